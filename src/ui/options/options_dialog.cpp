#include "ui/options/options_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "shell/shell_settings.h"
#include "ui/common/qt_text.h"
#include "ui/options/options_page.h"
#include "ui/options/page_factory.h"

namespace tw::ui {

namespace {

// The tree's colours: dark green text on pale yellow, made for a light
// dialog. A dark theme keeps its own: the pale yellow would glare in it.
const QColor kTreeText(0, 96, 0);
const QColor kTreeBackground(255, 255, 235);

// A palette is dark when its lists are: their background is nearer black
// than white (perceived lightness).
bool is_dark(const QPalette& palette) { return palette.color(QPalette::Base).lightness() < 128; }

shell::OptionsFrame opening_position(const settings::Profile& profile) {
  const shell::ShellSettings s = shell::load_shell_settings(profile);
  return shell::OptionsFrame(s.config_sel, s.config_tab);
}

}  // namespace

OptionsDialog::OptionsDialog(settings::Profile& profile, const std::string& data_folder, Language lang,
                             QWidget* parent)
    : QDialog(parent),
      profile_(profile),
      lang_(lang),
      frame_(opening_position(profile)) {
  setWindowTitle(tr2(lang, "Options", "オプション設定"));
  if (parent) setWindowIcon(parent->windowIcon());

  tree_ = new QTreeWidget(this);
  tree_->setHeaderHidden(true);
  tree_->setRootIsDecorated(false);
  tree_->setSelectionMode(QAbstractItemView::SingleSelection);
  tree_->setFixedWidth(160);
  apply_tree_colors();

  tabs_ = new QTabBar(this);
  tabs_->setDrawBase(false);
  tabs_->setExpanding(false);
  stack_ = new QStackedWidget(this);
  blank_ = new QWidget(stack_);
  stack_->addWidget(blank_);

  // Pages are created in a fixed order and save in that order at close.
  for (int i = 0; i < shell::kOptionsPageCount; ++i) {
    OptionsPage* page = create_options_page(shell::kPageCreationOrder[static_cast<std::size_t>(i)],
                                            profile_, data_folder, lang_, stack_);
    pages_[static_cast<std::size_t>(i)] = page;
    stack_->addWidget(page);
    page->load();
  }

  ok_ = new QPushButton(QStringLiteral("OK"), this);
  cancel_ = new QPushButton(tr2(lang, "Cancel", "キャンセル"), this);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

  auto* right = new QVBoxLayout;
  right->addWidget(tabs_);
  right->addWidget(stack_, 1);
  auto* top = new QHBoxLayout;
  top->addWidget(tree_);
  top->addLayout(right, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  layout->addLayout(buttons);

  tree_->setUpdatesEnabled(false);
  tree_->clear();
  for (int g = 0; g < shell::kOptionGroupCount; ++g) {
    auto* item = new QTreeWidgetItem(tree_, QStringList{qs(shell::group_entry_text(lang_, g))});
    item->setData(0, Qt::UserRole, g);
  }
  tree_->setUpdatesEnabled(true);

  connect(tree_, &QTreeWidget::itemSelectionChanged, this, &OptionsDialog::on_tree_selection);
  connect(tabs_, &QTabBar::currentChanged, this, &OptionsDialog::on_tab_changed);

  if (auto group = frame_.initial_group()) {
    tree_->setCurrentItem(tree_->topLevelItem(*group));
  } else {
    // A stored group beyond the tree: nothing selected, nothing shown.
    show_page();
  }
}

void OptionsDialog::apply_tree_colors() {
  if (is_dark(palette())) {
    tree_->setPalette(QPalette());  // the theme's own, inherited
    return;
  }
  QPalette p = palette();
  p.setColor(QPalette::Text, kTreeText);
  p.setColor(QPalette::Base, kTreeBackground);
  tree_->setPalette(p);
}

void OptionsDialog::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  // The desktop switched between a light and a dark theme.
  if (event->type() == QEvent::PaletteChange && tree_) apply_tree_colors();
}

OptionsDialog::~OptionsDialog() {
  // Closed without done() (the owner went away): the apply flags are still
  // clear, so only the selection is written.
  finish();
}

void OptionsDialog::select_group(int group) {
  if (group < 0 || group >= tree_->topLevelItemCount()) return;
  tree_->setCurrentItem(tree_->topLevelItem(group));
}

void OptionsDialog::select_tab(int tab) {
  if (!frame_.has_group() || tab < 0 || tab >= tabs_->count()) return;
  tabs_->setCurrentIndex(tab);
}

void OptionsDialog::on_tree_selection() {
  const QList<QTreeWidgetItem*> selected = tree_->selectedItems();
  if (selected.isEmpty()) return;
  frame_.select_group(selected.front()->data(0, Qt::UserRole).toInt());
  rebuild_tabs();
  show_page();
}

void OptionsDialog::rebuild_tabs() {
  const QSignalBlocker block(tabs_);
  while (tabs_->count() > 0) tabs_->removeTab(0);
  for (std::string_view text : shell::group_tab_texts(lang_, frame_.config_sel())) tabs_->addTab(qs(text));
  tabs_->setCurrentIndex(frame_.config_tab());
}

void OptionsDialog::on_tab_changed(int index) {
  if (index < 0) return;
  frame_.select_tab(index);
  show_page();
}

void OptionsDialog::show_page() {
  OptionsPage* page = visible_page();
  stack_->setCurrentWidget(page ? static_cast<QWidget*>(page) : blank_);
}

OptionsPage* OptionsDialog::page(shell::OptionsPageId id) const {
  return pages_[static_cast<std::size_t>(shell::page_slot(id))];
}

OptionsPage* OptionsDialog::visible_page() const {
  auto id = frame_.current_page();
  return id ? page(*id) : nullptr;
}

void OptionsDialog::done(int result) {
  if (result == QDialog::Accepted) {
    frame_.accept_all();
  } else {
    frame_.reject_all();
  }
  finish();
  QDialog::done(result);
}

void OptionsDialog::finish() {
  if (finished_) return;
  finished_ = true;
  shell::save_options_position(profile_, frame_.config_sel(), frame_.config_tab());
  for (std::size_t i = 0; i < pages_.size(); ++i) {
    if (frame_.apply(shell::kPageCreationOrder[i])) pages_[i]->save();
  }
}

void OptionsDialog::keyPressEvent(QKeyEvent* event) {
  // Enter and Escape close the dialog only from its own buttons; anywhere else
  // (a check box, a list, a field) they do nothing.
  const int key = event->key();
  const bool closing_key = key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape;
  if (closing_key) {
    QWidget* focus = focusWidget();
    if (focus != ok_ && focus != cancel_) {
      event->accept();
      return;
    }
  }
  QDialog::keyPressEvent(event);
}

}  // namespace tw::ui
