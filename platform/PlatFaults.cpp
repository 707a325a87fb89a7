#include "platform/PlatFaults.h"

#ifdef QELT_FAULT_INJECTION

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace qelt::plat {

namespace {

struct Rule {
    std::string operation;
    long when = 0;
    bool andLater = false;
    bool kill = false;
    int error = 0;
    long seen = 0;
};

struct ErrnoName {
    const char* name;
    int value;
};

constexpr ErrnoName kErrnoNames[] = {
    {"EPERM", EPERM},   {"ENOENT", ENOENT}, {"EINTR", EINTR},   {"EIO", EIO},
    {"EBADF", EBADF},   {"EAGAIN", EAGAIN}, {"ENOMEM", ENOMEM}, {"EACCES", EACCES},
    {"EBUSY", EBUSY},   {"EEXIST", EEXIST}, {"EXDEV", EXDEV},   {"ENOTDIR", ENOTDIR},
    {"EISDIR", EISDIR}, {"EINVAL", EINVAL}, {"EFBIG", EFBIG},   {"ENOSPC", ENOSPC},
    {"EROFS", EROFS},   {"EMLINK", EMLINK}, {"ENAMETOOLONG", ENAMETOOLONG},
    {"ENOSYS", ENOSYS}, {"ENOTEMPTY", ENOTEMPTY}, {"ELOOP", ELOOP},
    {"EOPNOTSUPP", EOPNOTSUPP}, {"ENOTSUP", ENOTSUP}, {"EDQUOT", EDQUOT},
};

std::mutex& RulesLock()
{
    static std::mutex sLock;
    return sLock;
}

struct Rules {
    bool loaded = false;
    std::vector<Rule> list;
};

Rules& TheRules()
{
    static Rules sRules;
    return sRules;
}

bool ParseAction(const std::string& text, Rule& rule)
{
    if (text == "kill") {
        rule.kill = true;
        return true;
    }
    for (const ErrnoName& e : kErrnoNames) {
        if (text == e.name) {
            rule.error = e.value;
            return true;
        }
    }
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value <= 0 || value > 4095)
        return false;
    rule.error = static_cast<int>(value);
    return true;
}

// A malformed rule is ignored: the variable only ever adds faults.
void Load(Rules& rules)
{
    rules.list.clear();
    rules.loaded = true;
    const char* env = std::getenv("QELT_TEST_FAULTS");
    if (env == nullptr)
        return;
    std::string all(env);
    size_t start = 0;
    while (start <= all.size()) {
        size_t comma = all.find(',', start);
        std::string item = all.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        start = (comma == std::string::npos) ? all.size() + 1 : comma + 1;
        size_t c1 = item.find(':');
        size_t c2 = (c1 == std::string::npos) ? std::string::npos : item.find(':', c1 + 1);
        if (c2 == std::string::npos)
            continue;
        Rule rule;
        rule.operation = item.substr(0, c1);
        std::string count = item.substr(c1 + 1, c2 - c1 - 1);
        if (!count.empty() && count.back() == '+') {
            rule.andLater = true;
            count.pop_back();
        }
        char* end = nullptr;
        rule.when = std::strtol(count.c_str(), &end, 10);
        if (count.empty() || *end != '\0' || rule.when <= 0)
            continue;
        if (!ParseAction(item.substr(c2 + 1), rule))
            continue;
        rules.list.push_back(rule);
    }
}

}  // namespace

int FaultCheck(const char* operation)
{
    std::lock_guard<std::mutex> hold(RulesLock());
    Rules& rules = TheRules();
    if (!rules.loaded)
        Load(rules);
    int result = 0;
    for (Rule& rule : rules.list) {
        if (rule.operation != operation && rule.operation != "change")
            continue;
        ++rule.seen;
        bool fire = rule.andLater ? rule.seen >= rule.when : rule.seen == rule.when;
        if (!fire)
            continue;
        if (rule.kill)
            ::kill(::getpid(), SIGKILL);
        if (result == 0)
            result = rule.error;
    }
    return result;
}

void ResetFaults()
{
    std::lock_guard<std::mutex> hold(RulesLock());
    Load(TheRules());
}

}  // namespace qelt::plat

#endif
