#ifndef FUNCTIONS_OPERATOR_H
#define FUNCTIONS_OPERATOR_H

#include <QString>

#include <memory>

// Whoever the steps talk to while they run: the window (message boxes and a progress
// dialog), batch mode (standard error and signals) or a test that records what it was told.
// The steps report their results by returning them; through the operator they only ask,
// warn and show progress.
class cOperator
{
public:
    virtual ~cOperator() = default;

    // Tells the operator something that does not wait for an answer (iIcon as iMessageBox's).
    virtual void vTell(const QString &qsHeading, const QString &qsMessage, const int iIcon) = 0;
    // A yes/no question; its safe answer is no, or yes where bYes_Is_Safe (stop a fill on a
    // medium that loses data).
    virtual bool bAsk(const QString &qsHeading, const QString &qsQuestion, const bool bYes_Is_Safe = false) = 0;

    // Progress of one long operation, reported from the thread that runs the step. bAdvance
    // is cheap enough to call every few milliseconds and returns false once the operator
    // has cancelled.
    virtual void vStart(const QString &qsTitle, const QString &qsWhat, const quint64 qui64Total) = 0;
    virtual bool bAdvance(const quint64 qui64Done) = 0;
    virtual void vFinish() = 0;
    virtual bool bCancelled() const = 0;

    // What to do first when no poll was made, in this operator's words.
    virtual QString qsPoll_First() const = 0;
};

// Starts a progress on construction and finishes it however the step leaves.
class cProgress_Scope
{
public:
    cProgress_Scope(cOperator &oOperator_In, const QString &qsTitle, const QString &qsWhat, const quint64 qui64Total)
        : oOperator(oOperator_In)
    {
        oOperator.vStart(qsTitle, qsWhat, qui64Total);
    }
    ~cProgress_Scope() { oOperator.vFinish(); }
    cProgress_Scope(const cProgress_Scope &) = delete;
    cProgress_Scope &operator=(const cProgress_Scope &) = delete;

private:
    cOperator &oOperator;
};

// The operator of a step started through the records' own calls, which take none: the
// window's (boxes and a progress dialog) where its library is linked and a QApplication runs
// on this thread, else a quiet one that shows no progress, tells through iMessageBox
// (standard error) and gives every question its safe answer.
std::unique_ptr<cOperator> pDefault_Operator();
typedef std::unique_ptr<cOperator> (*tOperator_Maker)();
// The window's library installs its maker here when it is linked, before main runs.
void vInstall_Operator_Maker(const tOperator_Maker pfMaker);

#endif // FUNCTIONS_OPERATOR_H
