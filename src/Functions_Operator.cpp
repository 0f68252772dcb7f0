#include "Functions_Operator.h"

#include "Functions_Core.h"
#include "Functions_Report_Texts.h"

#include <QCoreApplication>
#include <QThread>

namespace {

tOperator_Maker pfOperator_Maker = nullptr;

class cQuiet_Operator : public cOperator
{
public:
    void vTell(const QString &qsHeading, const QString &qsMessage, const int iIcon) override
    {
        iMessageBox(qsHeading, qsMessage, iIcon, iMsgBox_OK_Button, 0, 0, "");
    }
    bool bAsk(const QString &, const QString &, const bool bYes_Is_Safe = false) override { return bYes_Is_Safe; }
    void vStart(const QString &, const QString &, const quint64) override {}
    bool bAdvance(const quint64) override { return true; }
    void vFinish() override {}
    bool bCancelled() const override { return false; }
    QString qsPoll_First() const override { return qsPoll_First_Quiet(); }
};

} // namespace

std::unique_ptr<cOperator> pDefault_Operator()
{
    if (pfOperator_Maker && bWidgets_Running() && QThread::currentThread() == QCoreApplication::instance()->thread())
        return pfOperator_Maker();
    return std::make_unique<cQuiet_Operator>();
}

void vInstall_Operator_Maker(const tOperator_Maker pfMaker)
{
    pfOperator_Maker = pfMaker;
}
