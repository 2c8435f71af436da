// A dependency library for the loader tests: counts its init and deinit calls; init answers
// DEPENDENCY_INIT_RESULT.
#define EXPORT __attribute__((visibility("default")))

static int initCalls;
static int deinitCalls;

EXPORT int init(void)
{
    ++initCalls;
    return DEPENDENCY_INIT_RESULT;
}

EXPORT int deinit(void)
{
    ++deinitCalls;
    return 0;
}

EXPORT int init_calls(void)
{
    return initCalls;
}
EXPORT int deinit_calls(void)
{
    return deinitCalls;
}
