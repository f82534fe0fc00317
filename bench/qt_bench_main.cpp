// The main of the window benchmarks: a QApplication on the offscreen platform, so the windows
// paint into their backing stores in memory and no display is needed.
#include <QApplication>

#include <benchmark/benchmark.h>
#include <cstdlib>

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
