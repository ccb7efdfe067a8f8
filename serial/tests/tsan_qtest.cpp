// ThreadSanitizer sees QtTest's watchdog thread signal a wait condition that the
// main thread then destroys, synchronised inside the uninstrumented Qt library.
// Those reports come from QtTest's own teardown; nothing else is suppressed.
extern "C" const char *__tsan_default_suppressions()
{
    return "race:QWaitCondition::~QWaitCondition\n"
           "race:QTest::qRun\n";
}
