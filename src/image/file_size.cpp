// Orrivane_GetBIOSFileSize's work: the descriptor-based read-write open,
// so a file that cannot be written reports 0.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "image/file_size.h"
#include "image/image_layout.h"

namespace orr {

int32_t ReadFileSize(const char* path) {
  if (!path) return 0;
#ifdef _WIN32
  int fd = _open(path, _O_RDWR | _O_BINARY);
  if (fd < 0) return 0;
  struct _stat status;
  bool known = _fstat(fd, &status) == 0;
  _close(fd);
#else
  int fd = open(path, O_RDWR);
  if (fd < 0) return 0;
  struct stat status;
  bool known = fstat(fd, &status) == 0;
  close(fd);
#endif
  // Without a status, or beyond the signed 32-bit result, there is no size to report.
  if (!known || status.st_size < 0 || static_cast<uint64_t>(status.st_size) > kLargestImage) return 0;
  return static_cast<int32_t>(status.st_size);
}

}  // namespace orr
