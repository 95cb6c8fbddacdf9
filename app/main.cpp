#include <cstdio>

int main()
{
    // The download engine and its list are built; the main window that hosts them is not yet.
    std::printf("Quillmoor %s is built. Its main window is not part of this build yet; "
                "run tools/test to exercise the download engine.\n",
                QUILLMOOR_VERSION);
    return 0;
}
