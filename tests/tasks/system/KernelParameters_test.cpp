// The kernel-parameter operations of the system-settings family on temporary
// files: the comparison rules, the sysctl.conf record update, and what is
// refused before anything runs.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "model/FixupData.h"
#include "model/Result.h"
#include "model/RunObjects.h"
#include "support/ScratchFixture.h"
#include "support/TempDir.h"
#include "tasks/system/sTaskSystemSettings.h"
#include "xml/XmlParser.h"

namespace vxl_fixup {
namespace {

using vxl_test::TempDir;

class KernelParamTest : public vxl_test::ScratchFixture {
protected:
    void TearDown() override {
        task.reset();
        XmlParser::dispose();
        vxl_test::ScratchFixture::TearDown();
    }
    static FixupData* instance(const std::string& id) {
        FixupData* data = new FixupData(&id);
        RunObjects::adopt(data);
        return data;
    }
    std::unique_ptr<sTaskSystemSettings> task{new sTaskSystemSettings(instance("TASKKERNELPARAM"))};
    const std::string conf = work.file("sysctl.conf");
};

TEST_F(KernelParamTest, ComparisonRules) {
    struct Case {
        const char* name;
        const char* value;
        const char* expected;
        bool ok;
        const char* corrected;  // "" when ok
    } cases[] = {
        {"file-max", "6815744", "1048576", true, ""},
        {"file-max", "65536", "6815744", false, "6815744"},
        {"file-max", "", "1", false, "1"},
        {"file-max", "  ", "0", true, ""},
        {"file-max", "abc", "1024", false, "1024"},  // unparsable counts as wrong
        {"shmmax", "18446744073692774399", "4294967295", true, ""},
        {"shmall", "18446744073692774399", "4294967295", true, ""},
        {"shmmax", "4294967295", "18446744073692774399", false, "18446744073692774399"},
        {"vm.nr_hugepages", "10", "20", false, "20"},
        {"semmns", "250 32000 100 128", "64000", false, "250 64000 100 128"},
        {"semmns", "250\t32000\t100\t128", "64000", false, "250\t64000\t100\t128"},
        {"semmsl", "250 32000 100 128", "200", true, ""},
        {"semmni", "250 32000 100 128", "4096", false, "250 32000 100 4096"},
        {"semopm", "250 32000", "100", false, "250 32000"},  // field missing
        {"ip_local_port_range", "32768 60999", "9000 65500", false, "9000 65500"},
        {"ip_local_port_range", "9000 65500", "9000 65500", true, ""},
        {"ip_local_port_range", "9000", "9000 65500", false, "9000   65500"},
        {"ip_local_port_range", "9000 70000", "9000 65500", false, "9000 65500"},
        {"file-max", "00", "5", false, "5"},  // zero only as "0"
        {"file-max", " 7", "5", true, ""},    // a larger value stands as given
        {"file-max", " 5", "5", true, ""},    // and an equal one
        {"unknown-name", "1", "2", false, ""},
    };
    for (const Case& c : cases) {
        const std::string name = c.name, value = c.value, expected = c.expected;
        std::string corrected;
        EXPECT_EQ(task->compareAndCorrectValues(&name, &value, &expected, corrected), c.ok)
            << c.name << " " << c.value;
        EXPECT_EQ(c.ok ? "" : corrected, c.corrected) << c.name << " " << c.value;
    }
}

TEST_F(KernelParamTest, SysctlConfRecordsAreRewrittenForTheWholeKeyOrAdded) {
    const std::string sem = "250 32000 100 128";
    const struct {
        const char *before, *name, *key, *running, *expected, *after;
    } cases[] = {
        {"# comment\n  fs.file-max = 10\n#fs.file-max=20\n", "file-max", "fs.file-max", "6815744",
         " 1048576",
         "# comment\n  fs.file-max = 10\n#fs.file-max=20\n"
         "# Recommended value for fs.file-max\nfs.file-max = 1048576\n"},
        // Every line of the whole key, each rewritten.
        {"kernel.panic_on_oops = 0\nkernel.panic=5\nkernel.panic = 30 # keep\n"
         "kernel.panic = 3\nkernel.shmmax = 18446744073692774399",
         "kernel.panic", "kernel.panic", "0", "10",
         "kernel.panic_on_oops = 0\nkernel.panic = 10\nkernel.panic = 30 # keep\n"
         "kernel.panic = 10\nkernel.shmmax = 18446744073692774399\n"},
        // A value above the expected one stands, even beyond the signed range.
        {"kernel.shmmax = 18446744073692774399\n", "shmmax", "kernel.shmmax", "0", "4294967295",
         "kernel.shmmax = 18446744073692774399\n"},
        // Semaphore records of fewer than four fields take the running value.
        {"kernel.sem = 250\n", "semmns", "kernel.sem", sem.c_str(), "64000",
         "kernel.sem = 250 64000 100 128\n"},
        {"kernel.sem = 300 32000 100\n", "semmns", "kernel.sem", sem.c_str(), "64000",
         "kernel.sem = 250 64000 100 128\n"},
        {"kernel.sem = 300 32000 100 64\n", "semmns", "kernel.sem", sem.c_str(), "64000",
         "kernel.sem = 300 64000 100 64\n"},
        {"", "semmsl", "kernel.sem", sem.c_str(), "200",
         "# Recommended value for kernel.sem\nkernel.sem = 250 32000 100 128\n"},
    };
    for (const auto& c : cases) {
        TempDir::write(conf, c.before);
        const std::string name = c.name, key = c.key, running = c.running, expected = c.expected;
        std::unique_ptr<Result> r(
            task->updateEntryInSysctlConfFile(&name, &key, &running, &expected, &conf));
        EXPECT_TRUE(r->isSuccessFul()) << c.before;
        EXPECT_EQ(TempDir::read(conf), c.after) << c.before;
    }
    for (const std::string& path : {work.file("missing/sysctl.conf"), work.path()}) {
        const std::string name = "file-max", key = "fs.file-max", running = "1", expected = "2";
        std::unique_ptr<Result> r(
            task->updateEntryInSysctlConfFile(&name, &key, &running, &expected, &path));
        EXPECT_TRUE(r->isFailed());
        EXPECT_EQ(vxl_test::onlyError(*r), "Vxlg|9030|" + path + "|node1");
    }
}

TEST_F(KernelParamTest, BadTaskDataFailsBeforeAnythingRunsAndOtherIdentifiersAreUnknown) {
    const struct {
        const char* id;
        const char* name;      // null: no NAME item
        const char* expected;  // null: no expected value
        const char* error;     // the only error; null: UNKNOWN without errors
        const char* path;      // null: no PATH item
    } cases[] = {
        {"TASKKERNELPARAM", nullptr, "CURR(1)", "Vxlg|9031", nullptr},
        {"TASKKERNELPARAM", "file-max", nullptr, "Vxlg|9031", nullptr},
        {"TASKKERNELPARAM", "file-max", "CONF(4096)", "Vxlg|9046", nullptr},
        {"TASKKERNELPARAM", "file-max", "CURR()CONF(1)", "Vxlg|9046", nullptr},
        {"TASKKERNELPARAM", "no-such-param", "CURR(1)", "Vxlg|9046", nullptr},
        // A configuration file named relative to wherever the host runs.
        {"TASKKERNELPARAM", "file-max", "CURR(1)CONF(1)", "Vxlg|9031", "sysctl.conf"},
        {"TASKKERNELPARAM", "file-max", "CURR(1)CONF(1)", "Vxlg|9031", "../sysctl.conf"},
        {"TASKKERNELPARAM", "file-max", "CURR(1)CONF(1)", "Vxlg|9031", ""},
        {"STASKDEVICEFILESETTINGS", "file-max", "CURR(1)", nullptr, nullptr},
        {"CHECK_IOCP_STATUS", "file-max", "CURR(1)", nullptr, nullptr},
        {"CHECK_DAX_ACCESS", "file-max", "CURR(1)", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        FixupData* data = instance(c.id);
        const std::string item = "NAME", name = c.name ? c.name : "";
        const std::string expected = c.expected ? c.expected : "";
        const std::string pathItem = "PATH", path = c.path ? c.path : "";
        if (c.path) data->addData(&pathItem, &path);
        if (c.name) data->addData(&item, &name);
        if (c.expected) data->setExpectedValue(&expected);
        std::unique_ptr<Result> r(task->fix(data));
        EXPECT_EQ(c.error ? r->isFailed() : r->isUnknown(), true) << c.id << " " << name;
        EXPECT_EQ(vxl_test::onlyError(*r), c.error ? c.error : "<0 errors>") << c.id;
        EXPECT_FALSE(r->hasNativeErrors()) << "nothing was run";
    }
}

}  // namespace
}  // namespace vxl_fixup
