// The packer's preview on the host: path lengths judged inside a Wine prefix.
#include <gtest/gtest.h>

#include <string>

#include "pack_build.h"
#include "pack_preview.h"
#include "tools/pack_fixtures.h"

namespace {

using namespace pack_fixtures;

// Inside a Wine prefix the game folder's Windows name is known, and with it
// whether the updater's paths fit; elsewhere the lengths cannot be judged.
TEST(PackPreview, PathLengthsJudgedInsideAWinePrefix) {
    Workbench bench;
    bench.Add("n.arc", 10, std::string(51, 'n') + ".arc");
    bench.options.baseList.clear();
    ASSERT_TRUE(BuildPatch(bench.options).ok);
    const auto previewed = [&](const std::string& parent) {
        const std::string game = parent + "/" + std::string(200, 'g');
        EXPECT_EQ(ShellRun("mkdir -p " + Quote(game) + " && printf '\\0' > " + Quote(game + "/uninst.lst")).status, 0);
        Preview preview;
        std::string error;
        EXPECT_TRUE(PreviewPatch(bench.options.out, game, preview, error, false)) << error;
        return preview;
    };
    const Preview inPrefix = previewed(bench.folder / "prefix/drive_c/G");  // C:\G\ggg...: 205 bytes
    EXPECT_EQ(inPrefix.result, UPDATE_E_IO);
    EXPECT_NE(inPrefix.failure.find("too long"), std::string::npos) << inPrefix.failure;
    EXPECT_EQ(previewed(bench.folder / "plain").result, UPDATE_OK);
}

// The lists' paths are the longest the updater builds in the game folder for
// short names: "C:\ggg..." of 248 bytes is updated, while at 249 bytes
// "uninst.lst" no longer fits and is left as it is.
TEST(PackPreview, ListPathsJudgedInsideAWinePrefix) {
    Workbench bench;
    bench.Add("a.arc", 10, "a.arc");
    bench.options.baseList.clear();
    bench.options.listName = "l";
    ASSERT_TRUE(BuildPatch(bench.options).ok);
    for (const size_t length : {size_t{248}, size_t{249}}) {
        const std::string game = bench.folder / ("prefix/drive_c/" + std::string(length - 3, 'g'));
        ASSERT_EQ(ShellRun("mkdir -p " + Quote(game) + " && printf '\\0' > " + Quote(game + "/uninst.lst")).status, 0);
        Preview preview;
        std::string error;
        ASSERT_TRUE(PreviewPatch(bench.options.out, game, preview, error, false)) << error;
        EXPECT_EQ(preview.result, length == 248 ? UPDATE_OK : UPDATE_E_UNINSTALL_LIST) << length;
        EXPECT_TRUE(preview.committed) << length;
    }
}

}  // namespace
