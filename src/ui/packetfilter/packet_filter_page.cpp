#include "ui/packetfilter/packet_filter_page.h"

#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPalette>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "settings/profile.h"
#include "ui/common/qt_text.h"
#include "ui/common/ui_texts.h"
#include "ui/controls/column_fit.h"
#include "ui/controls/column_width_persister.h"
#include "ui/controls/list_font.h"
#include "ui/packetfilter/packet_filter_model.h"

namespace tw::ui {
namespace {

namespace pf = packetfilter;

bool is_address_column(int c) { return c == pf::kSrcIp || c == pf::kSrcMask || c == pf::kDstIp || c == pf::kDstMask; }
bool is_port_column(int c) { return c == pf::kSrcPort || c == pf::kDstPort; }

// The editors open from a one-shot timer, so that the key that opened one
// is not delivered to it a second time.
constexpr int kEditorDelayMs = 20;

}  // namespace

PacketFilterPage::PacketFilterPage(pf::FilterController& filter, settings::Profile& profile, Language lang,
                                   QWidget* parent)
    : QWidget(parent), filter_(filter), profile_(profile), lang_(lang) {
  start_ = new QPushButton(texts::start(lang_), this);
  reload_ = new QPushButton(texts::reload(lang_), this);
  edit_ = new QPushButton(texts::edit(lang_), this);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(start_);
  buttons->addWidget(reload_);
  buttons->addWidget(edit_);
  buttons->addStretch(1);

  model_ = new PacketFilterModel(filter_, this);
  view_ = new QTableView(this);
  view_->setObjectName(QStringLiteral("packetFilterGrid"));
  view_->setModel(model_);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setSelectionMode(QAbstractItemView::SingleSelection);
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view_->setSortingEnabled(false);  // the grid is never sorted: its order is the rules' order
  view_->verticalHeader()->hide();
  view_->verticalHeader()->setDefaultSectionSize(18);
  view_->setContextMenuPolicy(Qt::CustomContextMenu);
  // The Action colours (bright yellow and green) are made for a dark grid:
  // the output boxes' default colours, white on black.
  QPalette pal = view_->palette();
  pal.setColor(QPalette::Base, Qt::black);
  pal.setColor(QPalette::AlternateBase, Qt::black);
  pal.setColor(QPalette::Text, Qt::white);
  view_->setPalette(pal);
  view_->installEventFilter(this);
  view_->viewport()->installEventFilter(this);
  // What is wrong with the rule file (it cannot be read or written, rows
  // kept that are no rules) or with the last change; hidden when all is well.
  report_ = new QLabel(this);
  report_->setObjectName(QStringLiteral("fileReport"));
  report_->setWordWrap(true);
  report_->setTextFormat(Qt::PlainText);
  report_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  report_->hide();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addLayout(buttons);
  layout->addWidget(view_, 1);
  layout->addWidget(report_);

  const std::array<const char*, 3> names = {"addressEditor", "portEditor", "memoEditor"};
  for (std::size_t i = 0; i < editors_.size(); ++i) {
    editors_[i] = new QLineEdit(view_->viewport());
    editors_[i]->setObjectName(QString::fromLatin1(names[i]));
    editors_[i]->hide();
    editors_[i]->installEventFilter(this);
    // Typing again clears the mark of a text that was refused.
    connect(editors_[i], &QLineEdit::textEdited, this, [this, i] { mark_invalid(editors_[i], false); });
  }

  // The lists' font and starting widths: whole typical cells (the action
  // beside its icon, the widest address, a port range) and headers.
  view_->setFont(list_font(lang_, view_->font()));
  const QString address = QStringLiteral("255.255.255.255"), ports = QStringLiteral("1024-65535");
  const std::array<ColumnSample, pf::kColumnCount> samples = {
      {{qs(pf::kForward), true}, {address}, {address}, {ports}, {address}, {address}, {ports}, {QStringLiteral("ICMP")}, {}}};
  widths_ = std::make_unique<ColumnWidthPersister>(
      view_->horizontalHeader(), profile_, std::string(pf::kSection),
      fitted_column_widths(*view_, *view_->horizontalHeader(), pf::kDefaultColumnWidths, samples, false));
  widths_->load();

  open_file = [](const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };

  connect(start_, &QPushButton::clicked, this, [this] { filter_.toggle(); });
  connect(reload_, &QPushButton::clicked, this, [this] { (void)filter_.reload(); });
  connect(edit_, &QPushButton::clicked, this, [this] { edit_file(); });
  connect(view_, &QTableView::customContextMenuRequested, this, &PacketFilterPage::show_context_menu);
  connect(view_, &QTableView::doubleClicked, this, [this] { enter_on_cell(); });
  // A click on a column title moves the cell cursor to that column.
  connect(view_->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
    hide_editors();
    set_cursor(std::max(cursor_row(), 0), column);
  });

  filter_.set_listener([this] { follow_controller(); });
  filter_.set_message_sink([this](std::string_view text) {
    QMessageBox::information(this, qs(pf::message_caption(lang_)), qs(text));
  });
  follow_controller();
}

PacketFilterPage::~PacketFilterPage() {
  filter_.set_listener({});
  filter_.set_message_sink({});
  widths_->save();
}

void PacketFilterPage::follow_controller() {
  const int row = cursor_row(), column = cursor_column();
  const int scroll = view_->verticalScrollBar()->value();
  model_->refresh();
  view_->verticalScrollBar()->setValue(scroll);
  if (row >= 0 && model_->rowCount() > 0) set_cursor(std::min(row, model_->rowCount() - 1), std::max(column, 0));
  const bool on = filter_.filtering();
  start_->setText(on ? texts::stop(lang_) : texts::start(lang_));
  reload_->setEnabled(!on);
  edit_->setEnabled(!on);
  const std::string report = filter_.file_report(lang_);
  report_->setText(qs(report));
  report_->setVisible(!report.empty());
}

void PacketFilterPage::mark_invalid(QLineEdit* editor, bool invalid, const std::string& why) {
  // Red on the grid's black, with the reason as the tool tip.
  editor->setStyleSheet(invalid ? QStringLiteral("QLineEdit { background: rgb(128, 0, 0); color: white; }") : QString());
  const std::string general(
      pick(lang_,
           std::string_view("Not a complete address (a.b.c.d, fd00::1, fd00::/64), range, mask (a.b.c.d, /64) or "
                            "number: correct it, or press Escape to leave the cell as it was."),
           std::string_view("完全なアドレス (a.b.c.d, fd00::1, fd00::/64)・範囲・マスク (a.b.c.d, /64)・数値ではありません。"
                            "修正するか、Escape で元に戻してください。")));
  const std::string escape(pick(lang_, std::string_view(" Press Escape to leave the cell as it was."),
                                std::string_view(" Escape で元に戻せます。")));
  editor->setToolTip(invalid ? qs(why.empty() ? general : why + escape) : QString());
  editor->setProperty("invalid", invalid);
}

int PacketFilterPage::cursor_row() const { return view_->currentIndex().isValid() ? view_->currentIndex().row() : -1; }

int PacketFilterPage::cursor_column() const {
  return view_->currentIndex().isValid() ? view_->currentIndex().column() : -1;
}

void PacketFilterPage::set_cursor(int row, int column) {
  if (row < 0 || row >= model_->rowCount()) return;
  column = std::clamp(column, 0, pf::kColumnCount - 1);
  view_->setCurrentIndex(model_->index(row, column));
  view_->scrollTo(model_->index(row, column));
}

QLineEdit* PacketFilterPage::open_editor() const {
  for (QLineEdit* e : editors_)
    if (e->isVisible()) return e;
  return nullptr;
}

void PacketFilterPage::show_context_menu(const QPoint& pos) {
  QMenu menu(this);
  menu.addAction(QStringLiteral("Add to Packet filter rules(&A)\tINS"), this, [this] { insert_row(); });
  menu.addAction(QStringLiteral("Delete to Packet filter rules(&D)\tDEL"), this, [this] { delete_row(); });
  menu.addSeparator();
  menu.addAction(QStringLiteral("All Action set to FORWARD(&F)"), this, [this] { set_all_actions(false); });
  menu.addAction(QStringLiteral("All Action set to DROP(&B)"), this, [this] { set_all_actions(true); });
  menu.exec(view_->viewport()->mapToGlobal(pos));
}

void PacketFilterPage::set_all_actions(bool drop) {
  // A cell still being edited is part of what the user sees: it goes in
  // first, or the new actions would be set on rows without it.
  if (open_editor() && !commit_editor()) return;
  filter_.set_all_actions(drop);
}

void PacketFilterPage::insert_row() {
  hide_editors();
  const int row = cursor_row();
  const auto at = filter_.insert_default_row(row >= 0 ? std::optional<std::size_t>(row) : std::nullopt);
  if (at) set_cursor(static_cast<int>(*at), std::max(cursor_column(), 0));
}

void PacketFilterPage::delete_row() {
  hide_editors();
  const int row = cursor_row();
  if (row >= 0) filter_.delete_row(static_cast<std::size_t>(row));
}

void PacketFilterPage::edit_file() {
  // Every change is in the file already, unless writing it failed. A file
  // that cannot be read is still opened: the editor may be able to.
  if (Status s = filter_.write_pending(); !s && !filter_.read_error()) {
    QMessageBox::information(this, qs(pf::message_caption(lang_)), qs(pf::edit_failed_text(lang_)));
    return;
  }
  if (!open_file(QString::fromStdString(filter_.rule_file_path())))
    QMessageBox::information(this, qs(pf::message_caption(lang_)), qs(pf::edit_failed_text(lang_)));
}

void PacketFilterPage::enter_on_cell() {
  const int row = cursor_row(), column = cursor_column();
  if (row < 0 || column < 0) return;
  const std::string text = filter_.grid()[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
  if (column == pf::kAction) {
    filter_.set_cell(static_cast<std::size_t>(row), column, pf::next_action(text));
  } else if (column == pf::kProtocol) {
    filter_.set_cell(static_cast<std::size_t>(row), column, pf::next_protocol(text));
  } else {
    const Editor which = is_address_column(column) ? kAddressEditor : is_port_column(column) ? kPortEditor : kMemoEditor;
    open_editor_later(which, QString::fromStdString(text), true);
  }
}

void PacketFilterPage::open_editor_later(Editor which, const QString& initial, bool select_all) {
  const int row = cursor_row(), column = cursor_column();
  QTimer::singleShot(kEditorDelayMs, this, [this, which, initial, select_all, row, column] {
    if (row < 0 || row >= model_->rowCount()) return;
    hide_editors();
    editing_row_ = row;
    editing_column_ = column;
    QLineEdit* e = editors_[static_cast<std::size_t>(which)];
    e->setGeometry(view_->visualRect(model_->index(row, column)));
    e->setText(initial);
    e->show();
    e->setFocus();
    if (select_all) e->selectAll();
    else e->setCursorPosition(static_cast<int>(initial.size()));
  });
}

bool PacketFilterPage::commit_editor() {
  QLineEdit* e = open_editor();
  if (!e || editing_row_ < 0) return true;
  const std::string text = e->text().toStdString();
  const int column = editing_column_;
  std::optional<std::string> committed;
  if (e == editors_[kAddressEditor]) {
    committed = pf::commit_address_cell(text, column == pf::kSrcIp || column == pf::kDstIp);
  } else if (e == editors_[kPortEditor]) {
    committed = pf::commit_port_cell(text);
  } else {
    committed = pf::commit_memo_cell(text);
  }
  if (!committed) {
    // "10.0.0.1-" or "8081-" must not become a rule that matches far more:
    // the editor stays open and says so.
    mark_invalid(e, true);
    e->setFocus();
    return false;
  }
  const int row = editing_row_;
  // A complete text that does not fit the row (an IPv4 address beside an
  // IPv6 one, an IPv4 mask of an IPv6 address) keeps the editor open too,
  // with the reason.
  if (auto problem = filter_.cell_problem(static_cast<std::size_t>(row), column, *committed)) {
    mark_invalid(e, true, pf::problem_text(*problem, lang_));
    e->setFocus();
    return false;
  }
  hide_editors();
  filter_.set_cell(static_cast<std::size_t>(row), column, *committed);
  view_->setFocus();
  return true;
}

void PacketFilterPage::hide_editors() {
  editing_row_ = editing_column_ = -1;
  for (QLineEdit* e : editors_) {
    e->hide();
    mark_invalid(e, false);
  }
}

int PacketFilterPage::rows_per_page() const {
  const int row_height = std::max(1, view_->verticalHeader()->defaultSectionSize());
  return std::max(1, view_->viewport()->height() / row_height - 1);
}

bool PacketFilterPage::grid_key(int key, Qt::KeyboardModifiers mods, const QString& text) {
  const int row = cursor_row(), column = cursor_column();
  if ((mods & Qt::ControlModifier) && (key == Qt::Key_Up || key == Qt::Key_Down)) {
    if (row >= 0 && filter_.move_row(static_cast<std::size_t>(row), key == Qt::Key_Up))
      set_cursor(key == Qt::Key_Up ? row - 1 : row + 1, column);
    return true;
  }
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      enter_on_cell();
      return true;
    case Qt::Key_Insert:
      insert_row();
      return true;
    case Qt::Key_Delete:
      delete_row();
      return true;
    case Qt::Key_Escape:
      hide_editors();
      return true;
    // These move the row, keeping the column (the view would move the
    // column for Home and End).
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: {
      const int rows = model_->rowCount();
      if (rows == 0) return true;
      int to = row < 0 ? 0 : row;
      if (key == Qt::Key_Home) to = 0;
      else if (key == Qt::Key_End) to = rows - 1;
      else if (key == Qt::Key_PageUp) to = std::max(0, to - rows_per_page());
      else to = std::min(rows - 1, to + rows_per_page());
      set_cursor(to, std::max(column, 0));
      return true;
    }
    default:
      break;
  }
  if (key >= Qt::Key_0 && key <= Qt::Key_9 && row >= 0 && (is_address_column(column) || is_port_column(column))) {
    open_editor_later(is_address_column(column) ? kAddressEditor : kPortEditor, text, false);
    return true;
  }
  return false;
}

bool PacketFilterPage::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* k = static_cast<QKeyEvent*>(event);
    if (watched == view_) return grid_key(k->key(), k->modifiers(), k->text());
    for (QLineEdit* e : editors_) {
      if (watched != e) continue;
      if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
        commit_editor();
        return true;
      }
      if (k->key() == Qt::Key_Escape) {
        hide_editors();
        view_->setFocus();
        return true;
      }
    }
  } else if (event->type() == QEvent::MouseButtonPress && watched == view_->viewport()) {
    // A click in the grid leaves any editor without committing it; a right
    // click opens the context menu, whose "All Action set to ..." commits
    // the open editor first.
    if (static_cast<QMouseEvent*>(event)->button() != Qt::RightButton) hide_editors();
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace tw::ui
