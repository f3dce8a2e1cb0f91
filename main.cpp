// Process entry: removes the filter and exits with the run's status (0).
// Command-line arguments and the environment are ignored.

#include "removal/removal_run.h"

int main() { return RunRemoval(); }
