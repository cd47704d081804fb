#include "LaunchOptions.h"
#include "Pacing.h"
#include "frmMain.h"
#ifdef LOCATOR_HAVE_DEMO
#include "DemoLocator.h"
#endif

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    LaunchOptions::nameApplication();
    Pacing::configure(QApplication::arguments());
    const LaunchOptions options = LaunchOptions::parse(QApplication::arguments());
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "locator-toolkit: %s\n", qPrintable(options.error));
        return 2;
    }

#ifdef LOCATOR_HAVE_DEMO
    DemoLocator demo;  // outlives the window, which closes its ports first
    QString error;
    if (options.demo && !demo.start(&error)) {
        std::fprintf(stderr, "locator-toolkit: %s\n", qPrintable(error));
        return 1;
    }
#else
    if (options.demo) {
        std::fprintf(stderr, "locator-toolkit: this build has no demonstration locator\n");
        return 1;
    }
#endif

    frmMain window;
    window.show();
    options.schedule(&window);
    return app.exec();
}
