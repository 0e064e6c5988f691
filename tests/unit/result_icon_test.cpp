#include "results/result_icon.h"

#include <gtest/gtest.h>

#include <string>

namespace vuv {
namespace {

TEST(ResultIcon, IconByLastExtensionOfThePath) {
  struct Case {
    std::string path;
    ResultIcon icon;
  };
  const Case cases[] = {
      {"\\\\s\\sh\\PHOTO.JPG", ResultIcon::Picture},
      {"\\\\s\\sh\\x.C", ResultIcon::Text},
      {"\\\\s\\sh\\x.H", ResultIcon::Text},
      {"\\\\s\\sh\\report.Htm", ResultIcon::WebPage},
      {"\\\\s\\sh\\a.tz", ResultIcon::Archive},
      {"\\\\s\\sh\\.txt", ResultIcon::Text},
      {"\\\\s\\sh\\old.zip.txt", ResultIcon::Text},
      {"\\\\s\\web.site\\index.html", ResultIcon::WebPage},
      {"\\\\s\\sh\\film.DivX", ResultIcon::Media},
      {"\\\\s\\sh\\page.shtml", ResultIcon::WebPage},
      {"\\\\s\\sh\\run.sh", ResultIcon::Program},
      {"\\\\s\\sh\\setup.EXE", ResultIcon::Program},
      {"\\\\s\\sh\\Main.java", ResultIcon::Text},
      {"\\\\s\\sh\\x.tga", ResultIcon::Picture},
      // Near misses and the fixed list's gaps
      {"\\\\s\\sh\\README", ResultIcon::Other},
      {"\\\\s\\sh\\name.", ResultIcon::Other},
      {"\\\\s\\sh\\archive.tar.gz", ResultIcon::Other},
      {"\\\\s\\sh\\a.tgz", ResultIcon::Other},
      {"\\\\s\\sh\\a.jpe", ResultIcon::Other},
      {"\\\\s\\sh\\a.7z", ResultIcon::Other},
      {"\\\\s\\sh\\a.xls", ResultIcon::Other},
      {"\\\\s\\sh\\a.pdf", ResultIcon::Other},
      {"\\\\s\\sh\\a.txt2", ResultIcon::Other},
      {"\\\\s\\sh\\a.tx", ResultIcon::Other},
      {"\\\\s\\sh\\a.txt ", ResultIcon::Other},
      {"\\\\s\\sh\\a.mpeg4", ResultIcon::Other},
      {"\\\\s\\sh\\a.jpeg.", ResultIcon::Other},
      {"\\\\s\\sh\\a.\xC3\xBC", ResultIcon::Other},
      // The last dot is in a folder name and the file has none.
      {"\\\\s\\sh\\docs.old\\file", ResultIcon::Other},
      {"\\\\s\\sh\\x.c\\h", ResultIcon::Other},
      {"", ResultIcon::Other},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(iconForPath(c.path), c.icon) << c.path;
  }
}

TEST(ResultIcon, FolderRowsAlwaysShowFolder) {
  EXPECT_EQ(rowIcon(folderRow("\\\\s\\sh\\old.zip")), ResultIcon::Folder);
  EXPECT_EQ(rowIcon(folderRow("\\\\s\\sh\\plain")), ResultIcon::Folder);
  EXPECT_EQ(rowIcon(fileRow("\\\\s\\sh\\old.zip", 10)), ResultIcon::Archive);
  EXPECT_EQ(rowIcon(fileRow("\\\\s\\sh\\plain", 10)), ResultIcon::Other);
}

}  // namespace
}  // namespace vuv
