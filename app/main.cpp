#include "app/SelfTest.h"
#include "app/VeilmarkApp.h"

#include <QStringList>

#include <cstdio>

int main(int argc, char** argv)
{
    CVeilmarkApp app(argc, argv);
    const QStringList arguments = CVeilmarkApp::arguments();
    const qsizetype selfTest = arguments.indexOf(QStringLiteral("--self-test"));
    if (selfTest < 0) {
        if (arguments.size() > 2 || (arguments.size() == 2 && arguments[1].startsWith(QLatin1Char('-')))) {
            std::fprintf(
                stderr, "usage: veilmark [PICTURE]\n       veilmark --self-test [PICTURE] [--screenshot FILE]\n");
            return 2;
        }
        return app.InitInstance();
    }

    // veilmark --self-test [PICTURE] [--screenshot FILE]
    QString picture;
    QString screenshot;
    for (qsizetype i = selfTest + 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--screenshot") && i + 1 < arguments.size())
            screenshot = arguments[++i];
        else if (picture.isEmpty())
            picture = arguments[i];
        else {
            std::fprintf(stderr, "usage: veilmark [--self-test [PICTURE] [--screenshot FILE]]\n");
            return 2;
        }
    }
    return RunSelfTest(picture, screenshot);
}
