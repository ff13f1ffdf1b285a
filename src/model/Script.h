// A script reference from a fix-up data instance, run through the command
// runner. The name, location and argument texts belong to the caller (the
// document tree) and must outlive the script; the script releases only its
// own storage.
#pragma once

#include <string>
#include <vector>

namespace vxl_fixup {

class Result;

enum _SCRIPT_TYPE {
    SCRIPT_TYPE_UNKNOWN = 0,
    SCRIPT_TYPE_SHELL = 1,
    SCRIPT_TYPE_PERL = 2,
    SCRIPT_TYPE_BATCH = 3,
    SCRIPT_TYPE_SQL = 4,
    SCRIPT_TYPE_PLSQL = 5
};

class Script {
public:
    virtual ~Script();
    Script(const Script&) = delete;
    Script& operator=(const Script&) = delete;

    // SHELL gives a new ShellScript the caller owns; any other type null.
    static Script* createScript(_SCRIPT_TYPE type, const std::string* name,
                                const std::string* location);

    // Runs the script; a new Result the caller owns.
    virtual Result* runScript() = 0;

    void setArgumentList(std::vector<const std::string*> args);
    std::vector<const std::string*> getArguments() const { return m_arguments; }
    // Location + "/" + name, or the work directory + name without a location.
    std::string getScriptFilePath() const;
    const std::string* getName() const { return m_name; }
    const std::string* getLocation() const { return m_location; }

protected:
    Script(const std::string* name, const std::string* location);

private:
    const std::string* m_name;
    const std::string* m_location;
    std::string m_emptyLocation;
    std::vector<const std::string*> m_arguments;
};

class ShellScript : public Script {
public:
    ShellScript(const std::string* name, const std::string* location) : Script(name, location) {}
    Result* runScript() override;
};

}  // namespace vxl_fixup
