#include "cli/settings.h"

namespace talvo {

RunSettings settings;

}  // namespace talvo
