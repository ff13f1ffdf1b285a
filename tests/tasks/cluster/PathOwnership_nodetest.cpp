// Path ownership and mode, alone and for the node-local registry's paths:
// real chown and chmod on real files of a test node, with real users and
// groups created in it.
#include <cstdlib>
#include <optional>

#include "sandbox/NodeTestSupport.h"
#include "support/TaskInNode.h"
#include "tasks/cluster/sTaskClusterSettings.h"

namespace vxl_fixup {
namespace {

const std::string kFile = "/srv/registry/cluster.loc", kDir = "/srv/registry/tdb";
const std::string kRoot644 = "0:0:644", kGrid640 = "54321:54321:640", kAsm750 = "0:54329:750";

// The outcome line, then uid:gid:mode of kFile and of kDir.
std::string fix(const vxl_test::TaskInstance& instance) {
    TestNode node;
    node.addFile(kFile, "ocrconfig_loc=+DATA\n", 0644).addDirectory(kDir, 0755);
    const vxl_test::Fixed r = vxl_test::fixInNode<sTaskClusterSettings>(node, {instance}, [] {
        return std::system(
            "groupadd -g 54321 qhminst && groupadd -g 54329 qhmadmin && "
            "useradd -M -u 54321 -g qhminst qhmowner");
    });
    std::string text = r.lines.empty() ? "" : r.lines[0];
    for (const std::string& path : {kFile, kDir}) {
        const auto f = r.file(path);
        char mode[8];
        std::snprintf(mode, sizeof mode, "%o", f ? static_cast<unsigned>(f->mode) : 0u);
        text += " " + (f ? std::to_string(f->uid) + ":" + std::to_string(f->gid) + ":" + mode : "");
    }
    return text;
}

vxl_test::TaskInstance pathCheck(std::vector<std::string> paths, const char* expected) {
    vxl_test::TaskInstance in{"TASKPATHCHECK", {}, std::string(expected), "USER:root(0)"};
    for (const std::string& p : paths) in.data.emplace_back("PATH", p);
    if (*expected == '\0') in.expected.reset();
    return in;
}

vxl_test::TaskInstance registry(const std::string& expected,
                                std::optional<std::string> actual) {
    return {"TASKTDBINTEGRITY", {}, expected, std::move(actual)};
}

TEST(PathOwnershipNodeTest, SetsWhatIsExpectedForAPathOrEachRegistryPath) {
    VXL_REQUIRE_TEST_NODE();
    const std::string toOwner = "|USER:qhmowner(54321),GROUP:qhminst(54321),PERMISSIONS:640";
    const std::string toAsm = "|USER:root(0),GROUP:qhmadmin(54329),PERMISSIONS:750";
    const std::string seen = "|USER:root(0),GROUP:root(0),PERMISSIONS:644";
    const std::string none = "FAILED Vxlg 9021 [/srv/none] [node1] Vxlg 9021 [/srv/none] [node1]";
    const std::string refused = "FAILED Vxlg 9031 " + kRoot644 + " 0:0:755";
    const struct {
        vxl_test::TaskInstance in;
        std::string outcome;
    } cases[] = {
        {pathCheck({kDir, kFile}, "USER:qhmowner(54321),GROUP:qhminst(54321),PERMISSIONS:0640"),
         "SUCCESSFUL " + kGrid640 + " 0:0:755"},
        {pathCheck({kFile}, "USER:qhmowner,PERMISSIONS:600"), "SUCCESSFUL 0:0:600 0:0:755"},
        {pathCheck({kFile}, ""), "UNKNOWN " + kRoot644 + " 0:0:755"},
        {pathCheck({}, "USER:qhmowner,GROUP:qhminst"), "UNKNOWN " + kRoot644 + " 0:0:755"},
        // A failed chown is not masked by the chmod after it.
        {pathCheck({kFile}, "USER:nobody1,GROUP:qhminst,PERMISSIONS:600"),
         "FAILED native [chown nobody1:qhminst " + kFile +
             "] [1] [chown: invalid user: 'nobody1:qhminst'] 0:0:600 0:0:755"},
        {pathCheck({"/srv/none"}, "USER:qhmowner,GROUP:qhminst,PERMISSIONS:600"),
         none + " " + kRoot644 + " 0:0:755"},
        {pathCheck({kFile}, "USER:(54321),GROUP:qhminst"),
         "FAILED Vxlg 4500 [filePath] " + kRoot644 + " 0:0:755"},
        {pathCheck({kFile}, "PERMISSIONS:u+s"), refused},
        {pathCheck({kFile}, "PERMISSIONS:07777"), refused},
        {pathCheck({kFile}, "USER:qhmowner:qhmadmin,GROUP:qhminst"), refused},
        {registry(kFile + toOwner + ";" + kDir + toAsm, kFile + seen + ";" + kDir + seen),
         "SUCCESSFUL " + kGrid640 + " " + kAsm750},
        // Every path's outcome is kept, not only the last one's.
        {registry("/srv/none" + toOwner + ";" + kDir + toAsm,
                  "/srv/none" + seen + ";" + kDir + seen),
         none + " " + kRoot644 + " " + kAsm750},
        // An entry without a value is skipped; one without an actual entry is
        // applied whole.
        {registry(kFile + ";" + kDir + toAsm, "x;" + kDir), "SUCCESSFUL " + kRoot644 + " " + kAsm750},
        {registry(kFile + toOwner + ";/srv/noentry;" + kDir + toAsm,
                  kFile + seen + ";x;" + kDir + "|USER:root(0),GROUP:root(0)"),
         "SUCCESSFUL " + kGrid640 + " " + kAsm750},
        {registry(kFile + toOwner + ";" + kDir + toAsm, kFile + seen),
         "SUCCESSFUL " + kGrid640 + " " + kAsm750},
        {registry("/srv/none" + toOwner + ";" + kDir + toAsm, std::nullopt),
         none + " " + kRoot644 + " " + kAsm750},
        {{"TASKTDBINTEGRITY"}, "UNKNOWN " + kRoot644 + " 0:0:755"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fix(c.in), c.outcome) << c.in.taskId << " " << c.in.expected.value_or("<none>");
    }
}

}  // namespace
}  // namespace vxl_fixup
