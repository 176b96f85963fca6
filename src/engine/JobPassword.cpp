#include "engine/JobPassword.h"

#include "core/ActivityLog.h"
#include "core/host.h"
#include "i18n/Catalogue.h"
#include "jobs/clsBackup.h"
#include "platform/TextUtil.h"

namespace {

struct PasswordTexts {
    const char* request;
    const char* wrong;
    const char* ok;
};

PasswordTexts TextsFor(PasswordPurpose purpose) {
    if (purpose == PasswordPurpose::Delete)
        return {"strMsgRequestPWDel", "strMsgWrongPWDel", "strMsgPasswordOkDel"};
    return {"strMsgReqPasswdForEdit", "strMsgWrongPWDEdit", "strMsgPWDOkEdit"};
}

} // namespace

bool PasswordMatches(const std::string& expected, const std::string& typed) {
    return expected == typed;
}

bool CheckJobPassword(const clsBackup& job, PasswordPurpose purpose,
                      const std::function<bool(const std::string& expected)>& prompt) {
    // A password of blanks only protects nothing, as when the job was saved.
    if (TrimBlanks(job.password).empty())
        return true;
    const PasswordTexts texts = TextsFor(purpose);
    WriteLog(GetMsg(texts.request, {{"%d", job.sName}}));
    if (!prompt(job.password)) {
        const std::string wrong = GetMsg(texts.wrong, {{"%d", job.sName}});
        CurrentHost().MessageBox(wrong, MsgButtons::Ok, MsgIcon::Critical);
        WriteLog(wrong);
        return false;
    }
    WriteLog(GetMsg(texts.ok, {{"%d", job.sName}}));
    return true;
}
