#pragma once

// The `chart` subcommand. It draws with the analysis windows' pie and so
// needs Qt Gui, Widgets and Charts; the other subcommands need none of them,
// and the program starts faster without them, so they load only for a chart.
namespace Cli {

// Makes `chart` available to Run() in this process (needs a QApplication).
void EnableChart();

// The whole program for a chart: a QApplication on the offscreen platform
// (unless QT_QPA_PLATFORM names another), then Run() on the arguments.
int RunChartProgram(int argc, char *argv[]);

}  // namespace Cli
