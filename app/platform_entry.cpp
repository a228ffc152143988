// On Windows the program starts from the GUI entry point, which hands the
// command line to main. Elsewhere main is the entry point itself.
#if defined(_WIN32)
#include <windows.h>
#include <stdlib.h>

int main(int argc, char *argv[]);

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return main(__argc, __argv);
}
#endif
