// The one application object of the program.
#include "app/LauncherApp.h"

CLauncherApp theApp;
