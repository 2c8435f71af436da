// A shared library named like a plug-in that is no Qt plug-in at all.
int not_a_plugin(void)
{
    return 42;
}
