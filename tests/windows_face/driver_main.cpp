// Starts zarvelin.exe (the path is the first argument), runs the tests against it in
// the order they are written (each works on the state the one before left; the filters
// of one run never mix files, whose relative order is the linker's), then closes its
// window and expects exit code 0.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/windows_face/win32_probe.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: windows_face_driver PATH-TO-zarvelin.exe [gtest options]\n");
        return 2;
    }
    std::string why;
    if (!probe::start(argv[1], &why)) {
        std::fprintf(stderr, "windows_face_driver: %s\n", why.c_str());
        probe::killIfRunning();
        return 1;
    }
    int result = RUN_ALL_TESTS();
    // Whatever the tests did, closing the control window must end the program with 0.
    if (!probe::closeAndExpectCodeZero(&why)) {
        std::fprintf(stderr, "windows_face_driver: %s\n", why.c_str());
        result = 1;
    } else {
        std::printf("[ EXIT     ] closing the control window ended the program with code 0\n");
    }
    probe::killIfRunning();
    return result;
}
