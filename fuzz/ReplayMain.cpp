// Without libFuzzer: feeds every file of the corpus folders (or the files)
// named on the command line, or of $FUZZ_CORPUS_DIR, to the target once, so
// the seeds and every finding kept in the corpus stay checked by the
// ordinary test suite.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) __attribute__((weak));

int main(int argc, char **argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    QStringList inputs;
    for (int i = 1; i < argc; ++i)
        inputs << QString::fromLocal8Bit(argv[i]);
    // As a test it is told its corpus folder by the environment.
    if (inputs.isEmpty() && !qEnvironmentVariableIsEmpty("FUZZ_CORPUS_DIR"))
        inputs << qEnvironmentVariable("FUZZ_CORPUS_DIR");
    QStringList files;
    for (const QString &in : inputs) {
        const QFileInfo info(in);
        if (info.isDir()) {
            for (const QString &name : QDir(in).entryList(QDir::Files, QDir::Name))
                files << QDir(in).filePath(name);
        } else {
            files << in;
        }
    }
    if (files.isEmpty()) {
        std::fprintf(stderr, "no corpus files found\n");
        return 1;
    }
    for (const QString &path : files) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
            return 1;
        }
        const QByteArray bytes = f.readAll();
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
    }
    std::printf("%lld inputs replayed\n", static_cast<long long>(files.size()));
    return 0;
}
