// The image requests of the service library. Not built yet: every image
// request is refused until the member expansion lands.
#include "state.h"

namespace tb {

BOOL ImageServiceCall(uint32_t, void*, uint32_t, uint32_t*) { return FALSE; }

}  // namespace tb
