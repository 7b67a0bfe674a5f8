// The importer's file reader for Debian's shipped examples: a file X that is
// missing while X.gz lies beside it is read from X.gz and inflated.
#include <cerrno>

#include "tools/tessel-map/import/tiled.h"

bool ImportReadDiskOrGz(const std::string& path, std::vector<uint8_t>* bytes) {
  if (ImportReadDisk(path, bytes)) return true;
  int missing = errno;
  if (missing != ENOENT) return false;
  std::vector<uint8_t> packed;
  if (!ImportReadDisk(path + ".gz", &packed)) {
    errno = missing;
    return false;
  }
  if (packed.size() < 2 || packed[0] != 0x1F || packed[1] != 0x8B) {
    *bytes = std::move(packed);
    return true;
  }
  // The same bound as a file read whole.
  std::string problem;
  if (!TiledInflate(packed, "gzip", (size_t)ImportMaxFileBytes, bytes, &problem)) {
    errno = EINVAL;
    return false;
  }
  return true;
}
