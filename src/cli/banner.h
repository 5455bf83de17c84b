#pragma once

namespace talvo {

// Prints the title banner.
void _banner();

}  // namespace talvo
