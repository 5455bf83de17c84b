/* The floor of the completion latency: a statically linked program that waits for
 * one byte on its standard input (a pseudo-terminal, as the tool's port is) and
 * ends as soon as it has it. From the write of that byte to the end of the process
 * is the least that any program can take here to notice a byte and exit. */
#include <unistd.h>

int main(void)
{
    char byte = 0;
    return read(STDIN_FILENO, &byte, 1) == 1 ? 0 : 1;
}
