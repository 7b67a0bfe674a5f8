// Links the map source compiler of tessel-map into tessel-demo, which builds
// the demo map with the very code map authors use.
#include "tools/tessel-map/map_source.cpp"
