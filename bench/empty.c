/* The floor of a whole exchange: a statically linked program that does nothing. */
int main(void)
{
    return 0;
}
