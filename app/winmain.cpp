// Entry point of MI-RU.exe. The command line is not read.
#include <windows.h>

#include "app/startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    return AppRun(instance, showCommand);
}
