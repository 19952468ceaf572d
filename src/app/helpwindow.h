#pragma once

#include <QDialog>

class QTextBrowser;

// "Ajuda": the operator's guide, shipped inside the program so that it is
// there offline. Not modal: it stays open beside the work.
class HelpWindow : public QDialog
{
    Q_OBJECT
public:
    explicit HelpWindow(QWidget *parent = nullptr);
    QTextBrowser *browser() const { return m_browser; }

private:
    QTextBrowser *m_browser;
};
