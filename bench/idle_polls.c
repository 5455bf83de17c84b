/* The floor of a time-out run's processor time: 300 idle waits of 10 ms each in
 * poll(), on a pseudo-terminal of its own that never receives a byte. */
#define _XOPEN_SOURCE 600
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

int main(void)
{
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return 1;
    const char* name = ptsname(master);
    if (name == NULL) return 1;
    int slave = open(name, O_RDWR | O_NOCTTY);
    if (slave < 0) return 1;
    for (int i = 0; i < 300; ++i) {
        struct pollfd p = {slave, POLLIN, 0};
        if (poll(&p, 1, 10) != 0) return 1; /* nothing may arrive */
    }
    close(slave);
    close(master);
    return 0;
}
