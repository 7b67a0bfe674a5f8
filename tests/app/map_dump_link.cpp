// Links the map dump of tessel-map into the runner tests.
#include "tools/tessel-map/map_dump.cpp"
