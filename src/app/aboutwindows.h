#pragma once

#include <QDialog>
#include <QWidget>

class Prompt;

// The product's own texts.
namespace product
{
QString name();
QString maker();
QString description();
// "1.0.0".
QString version();
// "Windows" on Windows, the system's own name elsewhere ("Linux").
QString platform();
} // namespace product

// The splash window (frmSplash), shown for three seconds at start-up.
class SplashWindow : public QWidget
{
    Q_OBJECT
public:
    explicit SplashWindow(QWidget *parent = nullptr);
};

// "Sob&re" (frmAbout).
class AboutWindow : public QDialog
{
    Q_OBJECT
public:
    AboutWindow(Prompt &prompt, QWidget *parent = nullptr);
    // Starts the system-information tool where the platform has one.
    void systemInfo();

private:
    Prompt &m_prompt;
};
