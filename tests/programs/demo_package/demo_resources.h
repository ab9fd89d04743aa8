// Resource ids of the demo setup.
#pragma once

#define IDR_DEMO_MAIN_EXE 101
