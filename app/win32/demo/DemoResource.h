// The demo's own resources.
#pragma once

#define IDR_DEMO_MACHINE 3001  // RCDATA: the built-in demo workstation (JSON machine file)
