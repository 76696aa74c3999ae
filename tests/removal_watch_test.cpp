#include "link/removal_watch.h"

#include <gtest/gtest.h>

namespace p2k {
namespace {

const std::string kKeyHead = "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\"
                             "{4e1e1e15-52d7-11d4-852d-00105aa6f80b}\\";
const std::string kKeyTail = "\\#\\Control";

TEST(RemovalWatch, KeyOfAnInterfacePathMarksTheLeadingBackslashes)
{
    const std::string path =
        "\\\\?\\usb#vid_22b8&pid_4902&mi_08#6&1a2b3c4d&0&0008#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}";
    EXPECT_EQ(removalWatchKey(path),
              kKeyHead + "##?#usb#vid_22b8&pid_4902&mi_08#6&1a2b3c4d&0&0008#{4e1e1e15-52d7-11d4-852d-00105aa6f80b}"
                  + kKeyTail);
}

TEST(RemovalWatch, FirstSecondAndFourthCharactersBecomeNumberSignsWhateverTheyAre)
{
    EXPECT_EQ(removalWatchKey("abcdef\\g"), kKeyHead + "##c#ef\\g" + kKeyTail);
}

TEST(RemovalWatch, TheRestOfThePathIsCopiedUnchanged)
{
    EXPECT_EQ(removalWatchKey("\\\\?\\USB#Vid_22B8\\x"), kKeyHead + "##?#USB#Vid_22B8\\x" + kKeyTail);
}

TEST(RemovalWatch, AFourCharacterPathIsMarkedWhole)
{
    EXPECT_EQ(removalWatchKey("\\\\?\\"), kKeyHead + "##?#" + kKeyTail);
}

TEST(RemovalWatch, PathsShorterThanFourCharactersNameNoKey)
{
    EXPECT_EQ(removalWatchKey(""), std::nullopt);
    EXPECT_EQ(removalWatchKey("\\"), std::nullopt);
    EXPECT_EQ(removalWatchKey("\\\\"), std::nullopt);
    EXPECT_EQ(removalWatchKey("\\\\?"), std::nullopt);
}

} // namespace
} // namespace p2k
