#include "childprocess.h"

#include <signal.h>
#include <sys/prctl.h>

namespace {

void dieWithParent()
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
}

} // namespace

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
ChildProcess::ChildProcess() = default;

void ChildProcess::setupChildProcess()
{
    dieWithParent();
}
#else
ChildProcess::ChildProcess()
{
    setChildProcessModifier(dieWithParent);
}
#endif
