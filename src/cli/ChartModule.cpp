// The module locator-cli loads to draw a chart; see CliChart.h.
#include "cli/CliChart.h"

#include <QtGlobal>

extern "C" Q_DECL_EXPORT int locator_cli_chart_main(int argc, char *argv[])
{
    return Cli::RunChartProgram(argc, argv);
}
