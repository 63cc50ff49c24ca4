// Window controls bound to project settings through their properties, with real Qt widgets on
// the offscreen platform.

#include "TestSupport.h"
#include "core/TpzProject.h"
#include "core/TpzPropList.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QSpinBox>

namespace {

class BoundControls : public ::testing::Test {
protected:
    TempExe exe;
    std::unique_ptr<TpzProject> project = std::make_unique<TpzProject>(exe.Exe());
    QLineEdit eSource;
    QCheckBox cSubdir;
    QLineEdit eTarget;

    void SetUp() override
    {
        eSource.setObjectName("eSource");
        eSource.setProperty("hint", "Text");
        eSource.setProperty("tag", -1);
        cSubdir.setObjectName("cSubdir");
        cSubdir.setToolTip("Checked"); // the hint may also be the tooltip
        cSubdir.setProperty("tag", -1);
        eTarget.setObjectName("eTarget");
        eTarget.setProperty("hint", "Text");
        eTarget.setProperty("tag", -1);
        for (QObject* control : {static_cast<QObject*>(&eSource), static_cast<QObject*>(&cSubdir),
                                 static_cast<QObject*>(&eTarget)}) {
            project->BindControl(control);
        }
    }
    void TearDown() override { project.reset(); }
};

} // namespace

TEST_F(BoundControls, ApplyFillsFieldsAndCheckBox)
{
    project->SetSettingsLines({"Source=/in/*.xls?", "Subdir=True", "Target=/out/"});
    project->ApplyToControls();
    EXPECT_EQ(eSource.text(), "/in/*.xls?");
    EXPECT_TRUE(cSubdir.isChecked());
    EXPECT_EQ(eTarget.text(), "/out/");
    EXPECT_EQ(eSource.property("tag").toInt(), 1) << "bound on first use";
}

TEST_F(BoundControls, CheckBoxTakesValueNamesOnly)
{
    struct Case {
        bool before;
        const char* value; // nullptr: no line at all
        bool after;
    };
    const Case cases[] = {
        {false, "True", true},  {false, "true", true}, {true, "False", false},
        {true, nullptr, false}, {false, "1", false},   {true, "1", true},
        {true, "yes", true},    {false, "TRUE", true},
    };
    for (const Case& c : cases) {
        cSubdir.setChecked(c.before);
        project->SetSettingsLines(
            c.value != nullptr ? QStringList{QStringLiteral("Subdir=") + c.value} : QStringList{});
        project->ApplyToControls();
        EXPECT_EQ(cSubdir.isChecked(), c.after) << (c.value ? c.value : "(none)");
        // The accessor reads the number even where the check box does not.
        if (c.value != nullptr && QString(c.value) == "1") {
            EXPECT_TRUE(project->Subdir());
        }
    }
}

TEST_F(BoundControls, ReadWritesTheControlsBack)
{
    project->SetSettingsLines({"Subdir=1", "ThreadsCount=2"});
    eSource.setText("/in/*.xls?");
    cSubdir.setChecked(false);
    eTarget.clear();
    project->Store(false);
    // An empty field writes no line at all; the check box writes its value name.
    EXPECT_EQ(project->SettingsLines(),
              QStringList({"Subdir=False", "ThreadsCount=2", "Source=/in/*.xls?"}));
}

TEST_F(BoundControls, OlderControlPropertyKeysAreTakenOverOnce)
{
    const QString file = exe.Path("old.batch-morvel");
    project->SetProjectExt(".batch-morvel");
    project->SetSettingsLines({"eSource.Text=C:\\a\\*.xls", "ThreadsCount=2"});
    EXPECT_EQ(project->Source(), "") << "the console sees no Source";
    project->ApplyToControls();
    EXPECT_EQ(eSource.text(), "C:\\a\\*.xls");
    EXPECT_EQ(project->SettingsLines(), QStringList({"ThreadsCount=2"}));
    project->SetProjectFile(file);
    project->Store(true);
    EXPECT_EQ(ReadBytes(file), "ThreadsCount=2\r\nSource=C:\\a\\*.xls\r\nSubdir=False\r\n");
}

TEST_F(BoundControls, NewClearsTheControls)
{
    eSource.setText("x");
    cSubdir.setChecked(true);
    eTarget.setText("y");
    project->New();
    EXPECT_EQ(eSource.text(), "");
    EXPECT_FALSE(cSubdir.isChecked());
    EXPECT_EQ(eTarget.text(), "");
}

TEST_F(BoundControls, DestroyingTheProjectGivesTheTagsBack)
{
    project->ApplyToControls();
    ASSERT_EQ(cSubdir.property("tag").toInt(), 1);
    project.reset();
    EXPECT_EQ(eSource.property("tag").toInt(), -1);
    EXPECT_EQ(cSubdir.property("tag").toInt(), -1);
    EXPECT_EQ(cSubdir.findChild<TpzPropList*>(), nullptr);
}

TEST_F(BoundControls, AControlDestroyedFirstIsSkipped)
{
    auto* extra = new QLineEdit;
    extra->setObjectName("eRenameSource");
    extra->setProperty("hint", "Text");
    project->BindControl(extra);
    delete extra;
    project->SetSettingsLines({"Source=/s"});
    project->ApplyToControls();
    project->ReadFromControls();
    EXPECT_EQ(eSource.text(), "/s");
}

TEST(PropList, PropertiesAsText)
{
    QSpinBox spin;
    spin.setRange(-100, 100);
    QLineEdit edit;
    TpzPropList* spinBinding = TpzPropList::Of(&spin);
    TpzPropList* editBinding = TpzPropList::Of(&edit);
    EXPECT_EQ(TpzPropList::Of(&spin), spinBinding) << "one binding per control";

    spin.setValue(-42);
    EXPECT_EQ(spinBinding->ReadProp("Value"), "-42");
    spinBinding->WriteProp("value", "17");
    EXPECT_EQ(spin.value(), 17);
    spinBinding->WriteProp("value", "many");
    EXPECT_EQ(spin.value(), 17) << "a value that does not convert leaves the control";

    // An enumeration reads and writes by its value names.
    EXPECT_EQ(editBinding->ReadProp("echoMode"), "Normal");
    editBinding->WriteProp("EchoMode", "password");
    EXPECT_EQ(edit.echoMode(), QLineEdit::Password);
    editBinding->WriteProp("EchoMode", "2");
    EXPECT_EQ(edit.echoMode(), QLineEdit::Password);
    EXPECT_EQ(editBinding->ReadProp("readOnly"), "False");

    // Unknown properties read as empty and write nothing.
    EXPECT_EQ(editBinding->ReadProp("NoSuchProperty"), "");
    EXPECT_EQ(editBinding->ReadProp(""), "");
    editBinding->WriteProp("NoSuchProperty", "x");
    EXPECT_FALSE(edit.property("NoSuchProperty").isValid());
    // A property without a setter is read but never written.
    editBinding->WriteProp("hasSelectedText", "True");
    EXPECT_EQ(editBinding->ReadProp("hasSelectedText"), "False");
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
