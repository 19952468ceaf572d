#pragma once

#include "simulationengine.h"

#include <QDialog>

#include <memory>

#include "ledsvg.h"

#include <QElapsedTimer>

#include <functional>

class LedView;
class QLineEdit;
class QPushButton;
class QTextEdit;
class QTimer;
class RealTimeSimulationDriver;

// One of the six simulation windows (frmsim3, frmsim5, frmsim4, frmsim,
// frmsim1, frmsim2 for 5, 6, 9, 12, 15 and 30 characters). It shows the panel
// view as W cells of LEDs, the last tag read, and "Parar". The
// engine starts 300 ms after the window is shown, on real time; "Parar"
// stops it after its current step and the engine then closes the window.
class SimulationWindow : public QDialog
{
    Q_OBJECT
public:
    SimulationWindow(int width, const QString &caption, const RichText &message,
                     SimulationEngine::WallClock wallClock = {}, QWidget *parent = nullptr);
    ~SimulationWindow() override;

    SimulationEngine &engine() { return *m_engine; }
    // Starts the engine's timer; without it a test drives the engine itself
    // and calls showState() and engineEnded().
    void arm();
    // Shows the engine's state, which began atMs into the simulation on the
    // driver's schedule (virtual time for a test's driver).
    void showState(qint64 atMs);
    // The same at the window's own driver's schedule, or the real clock's
    // reading when no driver of its own runs.
    void showState();
    void engineEnded();
    // What "Parar" does.
    void stop();
    LedView *view() const { return m_view; }
    QLineEdit *tagBox() const { return m_tagBox; }
    // What was shown so far, each state with its start in seconds.
    const QVector<LedState> &played() const { return m_played; }
    // Asks where to save the animation ("" for no); a file dialog by default.
    std::function<QString()> askAnimationFile;

    void reject() override;

Q_SIGNALS:
    // "Salvar animação…" has written its file (or could not).
    void animationSaved(const QString &path, bool ok);

protected:
    void closeEvent(QCloseEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *e) override;

private:
    void halt();

    int m_width;
    RichText m_message; // as given, for the search of its round
    std::unique_ptr<SimulationEngine> m_engine;
    std::unique_ptr<RealTimeSimulationDriver> m_driver;
    void saveAnimation();

    QTimer *m_timer;
    LedView *m_view;
    static constexpr int kMaxPlayedStates = 20000;
    // How long of a message the search for its round may play.
    static constexpr qint64 kRoundLimitMs = 3600 * 1000;

    QVector<LedState> m_played;
    qint64 m_playedFromMs = 0; // where m_played starts on the simulation's time
    QString m_lastTagBox;
    QElapsedTimer m_clock; // real time since the first state, when no driver says
    QTextEdit *m_aux;
    QTextEdit *m_data;
    QLineEdit *m_tagBox;
    QPushButton *m_stop;
};
