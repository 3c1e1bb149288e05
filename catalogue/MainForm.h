#pragma once
// The main window: the catalogue as a tree of groups and items, the selected item's picture,
// firmware version and description, the serial port, and the update of the selected item.

#include <QDialog>
#include <QMetaType>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueLocation.h"
#include "catalogue/ItemTree.h"
#include "catalogue/PortComboBox.h"
#include "link/PortList.h"
#include "programming/LinkFactory.h"

class FittedPicture;
class QGroupBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSettings;
class QSplitter;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class QUrl;
class TProgForm;

// What an item node of the tree keeps. Everything else about the item is read from the
// catalogue again by its number.
struct TREEVIEW_DATA {
    int32_t ItemNumber = 0;
    std::string Identifier;  // the VERSION pattern as read when the tree was built
};
Q_DECLARE_METATYPE(TREEVIEW_DATA)

// What the window works with. Start-up passes the real ones; an empty function keeps the
// default named beside it.
struct MainFormContext {
    CatalogueLocation Location;
    TProgForm* ProgForm = nullptr;              // nullptr: the window makes its own
    std::function<QString()> ConfirmationWord;  // the word typed in the confirmation window
    std::string CommandLineIdentifier;          // preselects items; may be empty
    std::function<std::unique_ptr<QSettings>()> OpenSettings;  // default: the user's settings
    LinkFactory Links;                         // default: the programming window's own
    std::function<void(const QUrl&)> OpenUrl;  // default: the desktop's "open"
    std::function<void()> Quit;                // default: QCoreApplication::quit
    std::function<std::vector<SerialPortInfo>()> ListPorts;  // default: this machine's ports
};

class TMainForm : public QDialog {
    Q_OBJECT

public:
    static constexpr int ChangeDelayMs = 50;
    // Answer to every copy-data request; data kind 0 carries an identifier to select.
    static constexpr int CopyDataAnswer = 1;
    static constexpr quint32 IdentifierDataKind = 0;

    explicit TMainForm(MainFormContext context, QWidget* parent = nullptr);
    ~TMainForm() override;

    void SelectByIdentifier(const std::string& text);
    // Another program's request; works whether the window is hidden, shown, or behind the
    // programming window.
    int CopyData(quint32 kind, const QByteArray& payload);

    void TreeViewChange(QTreeWidgetItem* node);
    void ShowItemDetails(int itemNumber);
    std::string ItemVersionText(int itemNumber) const;
    void OpenHomepage(const std::string& link);
    void UpdateItem(int itemNumber);
    // The item node's context menu: "Verify Device" and "Read Device". Nothing for a group.
    QMenu* ItemMenu(QTreeWidgetItem* node);
    // Both run in the programming window and send the device reads only. Verifying checks
    // the chip against the item's processor entries first, as an update does.
    void VerifyDevice(int itemNumber);
    void ReadDevice();

    static std::optional<TREEVIEW_DATA> NodeData(const QTreeWidgetItem* node);
    QTreeWidgetItem* SelectedNode() const;

    QTreeWidget* TreeView;
    QSplitter* Splitter2;
    QWidget* Panel1;
    QPlainTextEdit* Memo;
    QSplitter* Splitter1;
    QLabel* ImagePanel;
    FittedPicture* Image;
    QWidget* Panel2;
    QGroupBox* GroupBox2;
    PortComboBox* PortBox;
    QPushButton* CheckButton;
    QPushButton* ButtonHomepage;
    QPushButton* ButtonUpdate;
    QPushButton* ExitButton;
    QTimer* ChangeDelay;

    std::string Language;  // "en" or "ge"
    std::string HomepageUrl;
    bool ProductionMode = false;

public slots:
    void ButtonHomepageClick();
    void CheckButtonClick();
    void ButtonUpdateClick();
    void ExitButtonClick();
    void TreeViewContextPopup(const QPoint& position);

protected:
    void showEvent(QShowEvent* event) override;
    // Every way of closing (close box, Alt+F4, Exit) ends here.
    void done(int result) override;
    // Escape does not close the window: there is no cancel button.
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What became of the node the user chose when the tree had to follow the catalogue.
    enum class TreeFollow {
        Current,     // the catalogue is the one the tree shows; nothing changed
        Rebuilt,     // the tree shows the new catalogue; the node is its namesake, or none
        ChoiceLost,  // the new catalogue has no namesake: nothing is selected, the note says so
    };

    void FormShow();
    void FormClose();
    void BuildLayout();
    QWidget* BuildDetails();
    QWidget* BuildBottomBar();
    void PlaceRightButtons();
    void FillPortBox();
    void RefreshPortBox();
    void FillTree();
    // Rebuilds the tree when the catalogue file has changed since the tree was built, and
    // moves 'node' to the node of the same group and name in the new tree.
    TreeFollow FollowCatalogue(QTreeWidgetItem*& node);
    std::optional<TreePlace> PlaceOf(QTreeWidgetItem* node) const;
    QTreeWidgetItem* NodeAt(const TreePlace& place) const;
    void ShowNodeDetails(QTreeWidgetItem* node);
    void ShowCatalogueReplaced(const ItemTree& before, const TreePlace& chosen);
    void ShowPicture(const std::string& path);
    std::string PortText() const;
    TProgForm& Programming() const { return *Context.ProgForm; }

    MainFormContext Context;
    Catalogue IniFile;
    // The catalogue as the tree shows it, held when the tree was built: details and updates
    // read it, so they always belong to the node the user chose.
    Catalogue TreeCatalogue;
    ItemTree ShownTree;  // what the tree's nodes show, node for node
    std::unique_ptr<QSettings> Registry;
};
