#include "outcome.h"

#include "exitcodes.h"

QStringList stringsOf(const QVariantList &lValues)
{
    QStringList lStrings;
    for (const QVariant &value : lValues)
        lStrings.append(value.toString());
    return lStrings;
}

int exitStatusOf(const Outcome &outcome)
{
    switch (outcome.status) {
    case Status::Ok:
        return exitcode::Ok;
    case Status::Refused:
        return exitcode::Credentials;
    case Status::NoAnswer:
        return exitcode::NoAnswer;
    case Status::Untrusted:
        return exitcode::Untrusted;
    case Status::Failed:
    case Status::Skipped:
        break;
    }
    return exitcode::Failed;
}

QString statusWord(Status status)
{
    switch (status) {
    case Status::Ok:
        return QStringLiteral("ok");
    case Status::Refused:
        return QStringLiteral("refused");
    case Status::NoAnswer:
        return QStringLiteral("no-answer");
    case Status::Untrusted:
        return QStringLiteral("untrusted");
    case Status::Skipped:
        return QStringLiteral("skipped");
    case Status::Failed:
        break;
    }
    return QStringLiteral("failed");
}
