#pragma once
// The program entry of the window:
//   tessaly [--simulate[=CARD_FOLDER]] [--screenshot FILE]
// (tessaly --version is answered by main() before this runs.)
// Without --simulate the window talks to units on the USB bus; with it, to the simulated unit,
// whose SD card lives in CARD_FOLDER (default: TESSALY_SIM_CARD, else
// ~/.local/share/tessaly/sim-card) and starts with a few map and log files. --screenshot saves an
// image of the window once the first monitor tick has listed the unit's files, and ends the run.
int RunTessaly(int argc, char** argv);
