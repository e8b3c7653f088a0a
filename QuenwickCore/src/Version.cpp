#include "QuenwickCore/Version.h"

namespace quenwick {

const char* productVersion() {
    return BRIMVALE_VERSION;
}

}  // namespace quenwick
