#include "catalogue/MainForm.h"

#include <QApplication>
#include <QCollator>
#include <QComboBox>
#include <QDesktopServices>
#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QUrl>
#include <QVBoxLayout>

#include "catalogue/CatalogueKeys.h"
#include "catalogue/FittedPicture.h"
#include "catalogue/IdentifierSelection.h"
#include "catalogue/InfoLines.h"
#include "catalogue/ItemRunValues.h"
#include "catalogue/ItemTree.h"
#include "catalogue/KnownFirmwares.h"
#include "catalogue/PictureFile.h"
#include "catalogue/PortComboBox.h"
#include "catalogue/PortSettings.h"
#include "catalogue/UpdatePlan.h"
#include "image/FirmwareId.h"
#include "programming/MessageBoxes.h"
#include "programming/PixelFont.h"
#include "programming/ProgForm.h"
#include "shell/AppIdentity.h"

namespace {
// Geometry in pixels at 96 dpi, laid out for a client area 630 wide; Qt scales it on denser
// screens.
constexpr int MinimumWidth = 640, MinimumHeight = 480;
constexpr int TreeWidth = 137, TreeIndent = 19;
constexpr int SplitterWidth = 4;
constexpr int MemoHeight = 137;
constexpr int BottomBarHeight = 63;
constexpr int ButtonTop = 12;
// The update and exit buttons keep their distance to the right edge.
constexpr int UpdateRightOffset = 186, ExitRightOffset = 80;
constexpr int BaseFontPx = 11, MemoFontPx = 13, PictureFontPx = 27;

constexpr char EnglishLanguage[] = "en";
constexpr char GermanLanguage[] = "ge";
constexpr char EnglishWord[] = "YES";  // the confirmation word that chooses English

const QString NoImageText = QStringLiteral("No Image available");
constexpr char VersionLinePrefix[] = "Application Version: ";
constexpr char BootloaderVersionPrefix[] = ", Bootloader Version: ";
constexpr char ReplacedPrefix[] = "The catalogue was replaced: it no longer lists ";
constexpr char ReplacedCure[] = ". Choose an item again.";

QString Text(const std::string& s) {
    return QString::fromStdString(s);
}

// Group names in the order of the user's locale, as the desktop sorts names.
TextLess LocaleAwareLess() {
    auto collator = std::make_shared<QCollator>();
    return [collator](const std::string& a, const std::string& b) {
        return collator->compare(Text(a), Text(b)) < 0;
    };
}

void FillDefaults(MainFormContext& c, QWidget* owner) {
    if (!c.ProgForm) c.ProgForm = new TProgForm(owner);
    if (!c.ConfirmationWord) c.ConfirmationWord = [] { return QString(); };
    if (!c.OpenSettings) c.OpenSettings = [] { return ::OpenSettings(); };
    if (!c.OpenUrl) c.OpenUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    if (!c.Quit) c.Quit = [] { QCoreApplication::quit(); };
    if (!c.ListPorts) c.ListPorts = &ListSerialPorts;
    if (c.Links) c.ProgForm->SetLinkFactory(c.Links);
}

// Disabled for the life of this object, whatever the outcome.
struct ButtonOff {
    explicit ButtonOff(QPushButton* button) : Button(button) { Button->setEnabled(false); }
    ~ButtonOff() { Button->setEnabled(true); }
    ButtonOff(const ButtonOff&) = delete;
    ButtonOff& operator=(const ButtonOff&) = delete;
    QPushButton* Button;
};

QPushButton* Button(const char* caption, QWidget* parent, const QRect& geometry) {
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    return button;
}
}  // namespace

TMainForm::TMainForm(MainFormContext context, QWidget* parent)
    : QDialog(parent),
      Context(std::move(context)),
      IniFile(Context.Location.CatalogueFile),
      TreeCatalogue(IniFile) {
    FillDefaults(Context, this);
    BuildLayout();
    Registry = Context.OpenSettings();
    ChangeDelay = new QTimer(this);
    ChangeDelay->setInterval(ChangeDelayMs);
    ChangeDelay->setSingleShot(true);
    // Each change restarts the delay, so a run of changes shows only the last node.
    connect(TreeView, &QTreeWidget::itemSelectionChanged, ChangeDelay, qOverload<>(&QTimer::start));
    connect(ChangeDelay, &QTimer::timeout, this, [this] { TreeViewChange(SelectedNode()); });
    connect(ButtonHomepage, &QPushButton::clicked, this, &TMainForm::ButtonHomepageClick);
    connect(CheckButton, &QPushButton::clicked, this, &TMainForm::CheckButtonClick);
    connect(ButtonUpdate, &QPushButton::clicked, this, &TMainForm::ButtonUpdateClick);
    connect(ExitButton, &QPushButton::clicked, this, &TMainForm::ExitButtonClick);
    connect(TreeView, &QTreeWidget::customContextMenuRequested, this,
            &TMainForm::TreeViewContextPopup);
}

TMainForm::~TMainForm() = default;

void TMainForm::BuildLayout() {
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
    setMinimumSize(MinimumWidth, MinimumHeight);
    resize(MinimumWidth, MinimumHeight);
    setFont(PixelFont(BaseFontPx));

    TreeView = new QTreeWidget;
    TreeView->setHeaderHidden(true);
    TreeView->setIndentation(TreeIndent);
    TreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TreeView->setSelectionMode(QAbstractItemView::SingleSelection);
    TreeView->setMouseTracking(true);  // hot tracking
    TreeView->setContextMenuPolicy(Qt::CustomContextMenu);

    Splitter2 = new QSplitter(Qt::Horizontal);
    Splitter2->setHandleWidth(SplitterWidth);
    Splitter2->addWidget(TreeView);
    Splitter2->addWidget(BuildDetails());
    Splitter2->setStretchFactor(1, 1);
    Splitter2->setSizes({TreeWidth, MinimumWidth - TreeWidth});

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Splitter2, 1);
    layout->addWidget(BuildBottomBar());

    // Bottom bar first, then the details, then the tree.
    setTabOrder(PortBox, ButtonUpdate);
    setTabOrder(ButtonUpdate, ExitButton);
    setTabOrder(ExitButton, ButtonHomepage);
    setTabOrder(ButtonHomepage, TreeView);
}

QWidget* TMainForm::BuildDetails() {
    Panel1 = new QWidget;
    Panel1->setFont(PixelFont(PictureFontPx));

    Memo = new QPlainTextEdit;
    Memo->setReadOnly(true);
    Memo->setFocusPolicy(Qt::ClickFocus);
    Memo->setFrameShape(QFrame::NoFrame);
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setFont(PixelFont(MemoFontPx));
    QPalette face = Memo->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Window));
    Memo->setPalette(face);

    // The panel's caption shows only while the picture, which covers it, is hidden.
    ImagePanel = new QLabel;
    ImagePanel->setFrameStyle(QFrame::Box | QFrame::Plain);
    ImagePanel->setAlignment(Qt::AlignCenter);
    Image = new FittedPicture(ImagePanel);
    auto* pictureLayout = new QVBoxLayout(ImagePanel);
    pictureLayout->setContentsMargins(1, 1, 1, 1);
    pictureLayout->addWidget(Image);

    Splitter1 = new QSplitter(Qt::Vertical);
    Splitter1->setHandleWidth(SplitterWidth);
    Splitter1->addWidget(Memo);
    Splitter1->addWidget(ImagePanel);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({MemoHeight, MinimumHeight - BottomBarHeight - MemoHeight});

    auto* layout = new QVBoxLayout(Panel1);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Splitter1);
    return Panel1;
}

QWidget* TMainForm::BuildBottomBar() {
    Panel2 = new QWidget;
    Panel2->setFixedHeight(BottomBarHeight);

    GroupBox2 = new QGroupBox(QStringLiteral("Serial Port"), Panel2);
    // Wide enough for port names such as ttyUSB0 or ttyACM0, up to the support button.
    GroupBox2->setGeometry(8, 6, 185, 49);
    PortBox = new PortComboBox(GroupBox2);
    PortBox->setEditable(true);
    PortBox->AboutToOpen = [this] { RefreshPortBox(); };
    PortBox->setGeometry(8, 20, 113, PortBox->sizeHint().height());
    PortBox->setFocusPolicy(Qt::ClickFocus);
    PortBox->setEditText(QString::fromLatin1(InitialPortText));
    CheckButton = Button("Check", GroupBox2, {128, 16, 49, 25});
    CheckButton->setFocusPolicy(Qt::ClickFocus);

    ButtonHomepage = Button("Kardo Support", Panel2, {209, ButtonTop, 97, 41});
    ButtonHomepage->setEnabled(false);
    ButtonUpdate = Button("Update Firmware", Panel2, {0, ButtonTop, 97, 41});
    ExitButton = Button("Exit", Panel2, {0, ButtonTop, 73, 41});
    Panel2->installEventFilter(this);
    return Panel2;
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Panel2 && event->type() == QEvent::Resize) PlaceRightButtons();
    return QDialog::eventFilter(watched, event);
}

void TMainForm::PlaceRightButtons() {
    ButtonUpdate->move(Panel2->width() - UpdateRightOffset, ButtonTop);
    ExitButton->move(Panel2->width() - ExitRightOffset, ButtonTop);
}

void TMainForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TMainForm::FormShow() {
    setWindowTitle(QString::fromLatin1(ApplicationTitle));
    FillPortBox();
    Language = Context.ConfirmationWord().toUpper() == QLatin1String(EnglishWord) ? EnglishLanguage
                                                                                  : GermanLanguage;
    FillTree();
    SelectByIdentifier(Context.CommandLineIdentifier);
}

void TMainForm::FillPortBox() {
    if (!Registry) Registry = Context.OpenSettings();  // released by an earlier close
    const std::vector<SerialPortInfo> ports = Context.ListPorts();
    QStringList names;
    FillPortList(names, PortNames(ports));
    const PortChoice choice = RestorePort(Registry.get(), names);
    PortBox->SetPorts(names, ports, choice.Index, choice.Text);
}

// The text stays what the user chose or typed; only the list around it is new.
void TMainForm::RefreshPortBox() {
    const std::vector<SerialPortInfo> ports = Context.ListPorts();
    QStringList names;
    const PortChoice choice = RefreshPortList(PortBox->currentText(), PortNames(ports), names);
    PortBox->SetPorts(names, ports, choice.Index, choice.Text);
}

void TMainForm::FillTree() {
    TreeView->clear();
    TreeCatalogue = IniFile.Held();
    ShownTree = BuildItemTree(TreeCatalogue, Context.Location.ProgramFolder, ProductionMode,
                              LocaleAwareLess());
    for (const GroupNode& group : ShownTree) {
        auto* groupNode = new QTreeWidgetItem(TreeView, {Text(group.Name)});
        for (const ItemNode& item : group.Items) {
            auto* node = new QTreeWidgetItem(groupNode, {Text(item.Name)});
            node->setData(0, Qt::UserRole,
                          QVariant::fromValue(TREEVIEW_DATA{item.ItemNumber, item.Identifier}));
        }
    }
}

// An administrator may copy a new catalogue into place while the window is open. Whatever
// the window shows next, or updates, comes from a tree built from the catalogue in force; the
// user's choice moves to the node that shows the same thing (group and name), since item
// numbers may have been dealt out anew.
TMainForm::TreeFollow TMainForm::FollowCatalogue(QTreeWidgetItem*& node) {
    if (!IniFile.ChangedSince(TreeCatalogue)) return TreeFollow::Current;
    const std::optional<TreePlace> chosen = PlaceOf(node);
    const ItemTree before = ShownTree;
    QStringList expanded;
    for (int g = 0; g < TreeView->topLevelItemCount(); ++g)
        if (TreeView->topLevelItem(g)->isExpanded()) expanded << TreeView->topLevelItem(g)->text(0);
    {
        // The caller shows what follows from the new tree; no delayed change may show it
        // again or wipe the note.
        const QSignalBlocker quiet(TreeView);
        FillTree();
        for (int g = 0; g < TreeView->topLevelItemCount(); ++g)
            if (expanded.contains(TreeView->topLevelItem(g)->text(0)))
                TreeView->topLevelItem(g)->setExpanded(true);
        const std::optional<TreePlace> found =
            chosen ? SamePlace(before, *chosen, ShownTree) : std::nullopt;
        node = found ? NodeAt(*found) : nullptr;
        if (node) TreeView->setCurrentItem(node);
        ChangeDelay->stop();
    }
    if (chosen && !node) {
        ShowCatalogueReplaced(before, *chosen);
        return TreeFollow::ChoiceLost;
    }
    return TreeFollow::Rebuilt;
}

std::optional<TreePlace> TMainForm::PlaceOf(QTreeWidgetItem* node) const {
    if (!node) return std::nullopt;
    QTreeWidgetItem* group = node->parent() ? node->parent() : node;
    const int g = TreeView->indexOfTopLevelItem(group);
    if (g < 0) return std::nullopt;
    TreePlace place{static_cast<std::size_t>(g), std::nullopt};
    if (node != group) place.Item = static_cast<std::size_t>(group->indexOfChild(node));
    return place;
}

QTreeWidgetItem* TMainForm::NodeAt(const TreePlace& place) const {
    QTreeWidgetItem* group = TreeView->topLevelItem(static_cast<int>(place.Group));
    if (!group || !place.Item) return group;
    return group->child(static_cast<int>(*place.Item));
}

void TMainForm::ShowCatalogueReplaced(const ItemTree& before, const TreePlace& chosen) {
    const GroupNode& group = before[chosen.Group];
    const std::string what = chosen.Item ? group.Items[*chosen.Item].Name + " under " + group.Name
                                         : "the group " + group.Name;
    Image->hide();
    ImagePanel->setText(QString());
    // The link belonged to an item of the old catalogue.
    HomepageUrl.clear();
    ButtonHomepage->setEnabled(false);
    Memo->setPlainText(Text(ReplacedPrefix + what + ReplacedCure));
}

std::optional<TREEVIEW_DATA> TMainForm::NodeData(const QTreeWidgetItem* node) {
    if (!node) return std::nullopt;
    const QVariant data = node->data(0, Qt::UserRole);
    if (!data.canConvert<TREEVIEW_DATA>()) return std::nullopt;
    return data.value<TREEVIEW_DATA>();
}

QTreeWidgetItem* TMainForm::SelectedNode() const {
    // Qt makes the first node current, unselected, when the tree gets the focus; that is no
    // selection.
    QTreeWidgetItem* node = TreeView->currentItem();
    return node && node->isSelected() ? node : nullptr;
}

void TMainForm::SelectByIdentifier(const std::string& text) {
    // Identifiers of the catalogue in force; the details of whatever stays selected follow.
    QTreeWidgetItem* chosen = SelectedNode();
    if (FollowCatalogue(chosen) == TreeFollow::Rebuilt) ChangeDelay->start();
    // The tree holds one selected node: the last match in tree order stays.
    for (QTreeWidgetItemIterator it(TreeView); *it; ++it) {
        const auto item = NodeData(*it);
        if (item && IdentifierSelects(text, item->Identifier)) TreeView->setCurrentItem(*it);
    }
    if (isVisible()) TreeView->setFocus();
}

int TMainForm::CopyData(quint32 kind, const QByteArray& payload) {
    if (kind == IdentifierDataKind) {
        qsizetype end = payload.indexOf('\0');
        if (end < 0) end = payload.size();
        SelectByIdentifier(payload.left(end).toStdString());
    }
    return CopyDataAnswer;
}

void TMainForm::TreeViewChange(QTreeWidgetItem* node) {
    if (FollowCatalogue(node) == TreeFollow::ChoiceLost) return;  // the note stands instead
    ShowNodeDetails(node);
}

void TMainForm::ShowNodeDetails(QTreeWidgetItem* node) {
    if (const auto item = NodeData(node)) {
        ShowItemDetails(item->ItemNumber);
        return;
    }
    // A group: the support button and the panel's caption stay as the last item left them.
    Image->hide();
    Memo->clear();
}

void TMainForm::ShowItemDetails(int itemNumber) {
    const std::string section = ItemSection(itemNumber);
    const std::string picturePath =
        ImagePath(Context.Location.ProgramFolder, TreeCatalogue.ReadValue(section, ImageKey, ""));
    HomepageUrl = TreeCatalogue.ReadValue(section, HomepageKey, "");
    ButtonHomepage->setEnabled(!HomepageUrl.empty());
    ShowPicture(picturePath);

    QStringList lines{Text(VersionLinePrefix + ItemVersionText(itemNumber))};
    for (const std::string& line : DescriptionLines(TreeCatalogue, itemNumber, Language))
        lines.append(Text(line));
    Memo->setPlainText(lines.join('\n'));
    Memo->moveCursor(QTextCursor::Start);
    Memo->verticalScrollBar()->setValue(0);
}

void TMainForm::ShowPicture(const std::string& path) {
    const QImage picture = LoadPicture(Text(path));
    Image->SetPicture(picture);
    Image->setVisible(!picture.isNull());
    ImagePanel->setText(picture.isNull() ? NoImageText : QString());
}

std::string TMainForm::ItemVersionText(int itemNumber) const {
    const std::string path =
        ItemFirmwarePath(TreeCatalogue, Context.Location.ProgramFolder, itemNumber);
    if (!IsExistingFile(path)) return {};
    const std::string pattern = TreeCatalogue.ReadValue(ItemSection(itemNumber), "Version", "");
    std::string text = ReadFirmwareId(path, pattern);
    const std::string bootPattern = BootloaderPattern(pattern);
    if (!bootPattern.empty()) text += BootloaderVersionPrefix + ReadFirmwareId(path, bootPattern);
    return text;
}

void TMainForm::ButtonHomepageClick() {
    OpenHomepage(HomepageUrl);
}

void TMainForm::OpenHomepage(const std::string& link) {
    // A link the desktop cannot open is not reported.
    Context.OpenUrl(QUrl::fromUserInput(Text(link)));
}

std::string TMainForm::PortText() const {
    return PortBox->currentText().toStdString();
}

void TMainForm::CheckButtonClick() {
    Programming().Params.PortName = PortText();
    Programming().CheckProgrammer();
}

void TMainForm::ButtonUpdateClick() {
    QTreeWidgetItem* node = SelectedNode();
    switch (FollowCatalogue(node)) {
        case TreeFollow::ChoiceLost:
            return;  // what the user chose is not in the catalogue in force
        case TreeFollow::Rebuilt:
            ShowNodeDetails(node);  // what is about to be programmed is what the window shows
            break;
        case TreeFollow::Current:
            break;
    }
    if (const auto item = NodeData(node)) UpdateItem(item->ItemNumber);
}

void TMainForm::UpdateItem(int itemNumber) {
    // Disabled during the chip query and the whole run, whatever the outcome.
    struct Disabled {
        QPushButton* Button;
        ~Disabled() { Button->setEnabled(true); }
    } disabled{ButtonUpdate};
    ButtonUpdate->setEnabled(false);

    // Firmware and processor entries from the catalogue the tree shows, even when the file
    // is replaced while the box answers: the item run is the item chosen.
    const UpdatePlan plan = PlanItemUpdate(TreeCatalogue, Context.Location.ProgramFolder,
                                           itemNumber, PortText(), [this](const std::string& port) {
                                               Programming().Params.PortName = port;
                                               return Programming().QueryChipType();
                                           });
    if (plan.Result == UpdatePlan::Ready) {
        Programming().Params = plan.Params;
        Programming().Params.PortName = PortText();
        Programming().SetFirmwareIdText(plan.FirmwareIdText);
        Programming().exec();
    } else if (plan.Result == UpdatePlan::NoMatch) {
        Boxes().Plain(this, QString::fromLatin1(ApplicationTitle), QString::fromLatin1(NoMatchText),
                      Text(NoMatchDetail(plan)));
    }
}

void TMainForm::TreeViewContextPopup(const QPoint& position) {
    QMenu* menu = ItemMenu(TreeView->itemAt(position));
    if (!menu) return;
    menu->exec(TreeView->viewport()->mapToGlobal(position));
    menu->deleteLater();
}

QMenu* TMainForm::ItemMenu(QTreeWidgetItem* node) {
    const auto item = NodeData(node);
    if (!item) return nullptr;
    auto* menu = new QMenu(this);
    const int number = item->ItemNumber;
    menu->addAction(QStringLiteral("Verify Device"), this,
                    [this, number] { VerifyDevice(number); });
    menu->addAction(QStringLiteral("Read Device"), this, [this] { ReadDevice(); });
    return menu;
}

void TMainForm::VerifyDevice(int itemNumber) {
    // As for an update: no second action while the chip query or the run goes on.
    const ButtonOff off(ButtonUpdate);
    const UpdatePlan plan = PlanItemUpdate(IniFile, Context.Location.ProgramFolder, itemNumber,
                                           PortText(), [this](const std::string& port) {
                                               Programming().Params.PortName = port;
                                               return Programming().QueryChipType();
                                           });
    if (plan.Result == UpdatePlan::Ready)
        Programming().ExecDeviceRead(ItemVerifyRequest(plan, PortText()));
    else if (plan.Result == UpdatePlan::NoMatch)
        Boxes().Plain(this, QString::fromLatin1(ApplicationTitle),
                      QString::fromLatin1(NoMatchText));
}

void TMainForm::ReadDevice() {
    const ButtonOff off(ButtonUpdate);
    Programming().Params.PortName = PortText();
    Programming().ExecDeviceRead(CatalogueReadRequest(Context.Location.CatalogueFile,
                                                      Context.Location.ProgramFolder, PortText()));
}

void TMainForm::ExitButtonClick() {
    close();
}

void TMainForm::done(int result) {
    FormClose();
    QDialog::done(result);
}

void TMainForm::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Cancel)) return;
    QDialog::keyPressEvent(event);
}

void TMainForm::FormClose() {
    StorePort(Registry, PortBox->currentText());
    Context.Quit();
}
