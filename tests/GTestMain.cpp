// The entry point of every GoogleTest program.
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    // On Windows GoogleTest starts a watcher thread the first time a thread reads its per-thread
    // state, which may be in the last test, moments before the program ends; Wine can crash a process
    // that ends while one of its threads is still starting. Reading that state once here starts the
    // main thread's watcher long before.
    {
        SCOPED_TRACE("start-up");
    }
    return RUN_ALL_TESTS();
}
