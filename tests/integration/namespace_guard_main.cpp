// Entry point of the integration tests. They call clock_settime with valid
// times, which must never reach this machine's clock: they run only in a
// user namespace of their own (tests/support/in_netns.sh), where the kernel
// refuses. Outside one, nothing runs.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace {

// The initial user namespace maps the whole uid range: "0 0 4294967295".
bool InInitialUserNamespace()
{
    std::ifstream map("/proc/self/uid_map");
    unsigned long inside = 0, outside = 0, count = 0;
    return !(map >> inside >> outside >> count) || count == 4294967295UL;
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();  // only lists the names
    if (InInitialUserNamespace()) {
        std::fprintf(stderr,
                     "%s: refusing to run outside a user namespace; run it through "
                     "tests/support/in_netns.sh\n",
                     argv[0]);
        return 2;
    }
    return RUN_ALL_TESTS();
}
