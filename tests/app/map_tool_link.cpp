// Links the map source compiler of tessel-map into the runner tests, which
// check that every dump builds into a map the runner reads the same way.
#include "tools/tessel-map/map_source.cpp"
