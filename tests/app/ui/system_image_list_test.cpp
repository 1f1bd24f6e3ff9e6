// File-type icons: one lookup per extension, stable indices.
#include "app/ui/system_image_list.h"

#include <QtTest>

using namespace torvane;

class SystemImageListTest : public QObject {
    Q_OBJECT
private slots:
    void extensionKeys();
    void oneLookupPerExtension();
};

void SystemImageListTest::extensionKeys() {
    QCOMPARE(CSystemImageList::ExtensionKey("REPORT.DOC "), QString(".doc"));
    QCOMPARE(CSystemImageList::ExtensionKey("/a.dir/readme"), QString());
    QCOMPARE(CSystemImageList::ExtensionKey("archive.tar.GZ"), QString(".gz"));
    QCOMPARE(CSystemImageList::ExtensionKey("noext"), QString());
}

void SystemImageListTest::oneLookupPerExtension() {
    CSystemImageList list;
    QCOMPARE(list.GetIconIndex("photo"), 0);  // no extension
    QCOMPARE(list.GetIconIndex(""), 0);
    const int doc = list.GetIconIndex("letter.DOC ");
    QVERIFY(doc >= 2);
    QCOMPARE(list.GetIconIndex("other.doc"), doc);
    QCOMPARE(list.ResolveCount(), 1);
    const int jpg = list.GetIconIndex("DCIM/IMG_0001.JPG");
    QVERIFY(jpg != doc);
    QCOMPARE(list.GetIconIndex("x.doc"), doc);  // stable
    QCOMPARE(list.ResolveCount(), 2);
    QCOMPARE(list.Icon(99).cacheKey(), list.Icon(0).cacheKey());  // out of range: the generic icon
    QCOMPARE(list.Icons().size(), 4);
}

QTEST_MAIN(SystemImageListTest)
#include "system_image_list_test.moc"
