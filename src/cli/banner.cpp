#include "cli/banner.h"

#include <cstdio>

namespace talvo {

void _banner()
{
    std::fputs("Talvo command line communication tool v0.8 <talvo-cmd@example.org>\n\n", stdout);
}

}  // namespace talvo
