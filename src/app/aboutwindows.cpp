#include "aboutwindows.h"

#include "passwordwindows.h"
#include "prompt.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSysInfo>
#include <QVBoxLayout>

// The logo lives in this static library; the linker keeps it only when
// something here refers to it.
static void initResources()
{
    Q_INIT_RESOURCE(app);
}

namespace product
{

QString name()
{
    return QStringLiteral("Letreiro");
}
QString maker()
{
    return QStringLiteral("Equipe Letreiro");
}
QString description()
{
    return QStringLiteral("Editor e carregador de mensagens para painéis de LED de uma linha: "
                          "efeitos, simulação, transmissão pela porta serial e acerto de "
                          "hora e data.");
}
QString version()
{
    return QStringLiteral("%1.%2.%3")
        .arg(LETREIRO_VERSION_MAJOR)
        .arg(LETREIRO_VERSION_MINOR)
        .arg(LETREIRO_VERSION_PATCH);
}
QString platform()
{
#ifdef Q_OS_WIN
    return QStringLiteral("Windows");
#else
    QString kernel = QSysInfo::kernelType();
    if (!kernel.isEmpty()) kernel[0] = kernel[0].toUpper();
    return kernel;
#endif
}

} // namespace product

namespace
{

QLabel *label(QWidget *parent, const char *name, const QString &text, int pointSize = 0)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    if (pointSize > 0) {
        QFont f = l->font();
        f.setPointSize(pointSize);
        f.setBold(true);
        l->setFont(f);
    }
    return l;
}

QLabel *picture(QWidget *parent, int size)
{
    initResources();
    auto *p = new QLabel(parent);
    p->setObjectName(QStringLiteral("Picture1"));
    p->setPixmap(QIcon(QStringLiteral(":/app/letreiro.svg")).pixmap(size, size));
    return p;
}

} // namespace

SplashWindow::SplashWindow(QWidget *parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmSplash"));
    auto *frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("fraMainFrame"));
    frame->setFrameShape(QFrame::Box);
    auto *texts = new QVBoxLayout;
    texts->addWidget(label(frame, "lblProductName", product::name(), 28));
    texts->addWidget(label(frame, "lblCompanyProduct", product::maker()));
    texts->addStretch();
    texts->addWidget(label(frame, "lblVersion", QStringLiteral("Versão ") + product::version()));
    texts->addWidget(label(frame, "lblPlatform", product::platform()));
    auto *inner = new QHBoxLayout(frame);
    inner->addWidget(picture(frame, 128));
    inner->addLayout(texts);
    (new QVBoxLayout(this))->addWidget(frame);
    resize(480, 220);
    centreOnScreen(*this);
}

AboutWindow::AboutWindow(Prompt &prompt, QWidget *parent) : QDialog(parent), m_prompt(prompt)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("Sobre o Letreiro"));
    setModal(true);
    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    auto *info = new QPushButton(QStringLiteral("&Informações do Sistema..."), this);
    info->setObjectName(QStringLiteral("cmdSysInfo"));
    QLabel *description = label(this, "lblDescription", product::description());
    description->setWordWrap(true);
    auto *texts = new QVBoxLayout;
    texts->addWidget(label(this, "lblTitle", product::name(), 16));
    texts->addWidget(label(this, "lblVersion", QStringLiteral("Versão ") + product::version()));
    texts->addWidget(description);
    auto *top = new QHBoxLayout;
    top->addWidget(picture(this, 64), 0, Qt::AlignTop);
    top->addLayout(texts, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(info);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);
    setMinimumWidth(420);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(info, &QPushButton::clicked, this, &AboutWindow::systemInfo);
    centreOnScreen(*this);
}

void AboutWindow::systemInfo()
{
#ifdef Q_OS_WIN
    const QSettings msinfo(
        QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"),
        QSettings::NativeFormat);
    const QString path = msinfo.value(QStringLiteral("PATH")).toString();
    if (!path.isEmpty() && QProcess::startDetached(path, {})) return;
    const QSettings location(
        QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools Location"),
        QSettings::NativeFormat);
    const QString folder = location.value(QStringLiteral("MSINFO")).toString();
    const QString exe = folder + QStringLiteral("\\MSINFO32.EXE");
    if (!folder.isEmpty() && QFileInfo::exists(exe) && QProcess::startDetached(exe, {})) return;
#endif
#ifdef Q_OS_WIN
    m_prompt.warning(QStringLiteral("As informações do sistema não estão disponíveis agora."));
#else
    // No system tool to start here: the facts a support call asks for.
    m_prompt.message(QStringLiteral("Sistema: %1\nNúcleo: %2 %3\nArquitetura: %4\nQt: %5\n"
                                    "Letreiro: %6")
                         .arg(QSysInfo::prettyProductName(), QSysInfo::kernelType(),
                              QSysInfo::kernelVersion(), QSysInfo::currentCpuArchitecture(),
                              QString::fromLatin1(qVersion()), product::version()));
#endif
}
