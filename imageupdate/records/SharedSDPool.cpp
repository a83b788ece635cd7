// The process-wide security-descriptor table. It lives in its own translation unit,
// and the imageupdate target makes every program that links the library pull this object in
// (see CMakeLists.txt), so the table is built during static initialisation and emptied at exit
// even in a program that never names it.
#include "SortedLinkList_STR.h"

namespace Tallis::ImageUpdate {

SortedLinkList_STR SharedSDPool;

} // namespace Tallis::ImageUpdate

// The linker is told that this symbol is needed (CMakeLists.txt), which links this object.
extern "C" {
extern const int kvo_shared_sd_pool_anchor;
const int kvo_shared_sd_pool_anchor = 1;
}
