#include "ui/traffic/graph_menu.h"

#include <QMenu>
#include <QWidget>

#include <array>

#include "settings/profile.h"
#include "ui/common/qt_text.h"

namespace tw::ui {
namespace {

namespace tr = traffic;

struct MenuTexts {
  const char* reset_graph;
  const char* reset_gross;
  const char* copy_info;
  const char* snapshot;
  const char* display_mode;
  const char* detailed;
  const char* max_line;
  const char* alpha;
  const char* gradation;
  const char* drawing;
  const char* double_sampling;
  const char* polyline;
  const char* reverse;
  const char* report;
  std::array<const char*, tr::kReportListCount> lists;
  const char* hide_graph;
};

constexpr MenuTexts kMenuEn{
    "Reset Graph(&R)", "Reset Total gross Transfer amount(&T)", "Copy Transfer Information(&C)",
    "Take a Snapshot(&N)", "Display mode", "Detailed Info(&I)", "'MAX' line(&M)", "Alpha Blending(&A)",
    "Gradation(&G)", "Graph Drawing", "Double sampling(&D)", "Polyline(&P)", "Scroll reverse(&S)",
    "Traffic Report",
    {"Instantaneous Transfer speed", "Average Transfer speed", "Transfer amount for each 01 minutes",
     "Transfer amount for each 05 minutes", "Transfer amount for each 30 minutes",
     "Transfer amount for each 60 minutes", "Transfer amount for each 24 hours"},
    "Hide Graph(&0)"};

constexpr MenuTexts kMenuJa{
    "グラフのリセット(&R)", "総転送量(累計)のリセット(&T)", "転送情報をコピー(&C)",
    "スナップショットを撮る(&N)", "表示モード", "詳細情報(&I)", "'MAX' ライン(&M)", "アルファブレンド(&A)",
    "グラデーション(&G)", "グラフ描画", "ダブルサンプリング(&D)", "ポリライン(&P)", "スクロール反転(&S)",
    "トラフィックレポート",
    {"瞬間転送速度", "平均転送速度", "01分毎の転送量", "05分毎の転送量", "30分毎の転送量", "60分毎の転送量",
     "24時間毎の転送量"},
    "グラフを隠す(&0)"};

}  // namespace

GraphMenu::GraphMenu(QWidget& owner, settings::Profile& profile, Language lang, Handlers handlers)
    : owner_(owner), profile_(profile), lang_(lang), handlers_(std::move(handlers)) {
  const MenuTexts& m = pick(lang_, kMenuEn, kMenuJa);
  const auto toggle_action = [this](const char* text, tr::GraphFlag flag) {
    auto* a = new QAction(qs(text), &owner_);
    a->setCheckable(true);
    QObject::connect(a, &QAction::triggered, &owner_, [this, flag] { toggle(flag); });
    return a;
  };
  view_mode_ = toggle_action(m.detailed, tr::GraphFlag::ViewMode);
  max_line_ = toggle_action(m.max_line, tr::GraphFlag::MaxLineMode);
  report_mode_ = toggle_action(m.alpha, tr::GraphFlag::ReportMode);
  gradient_ = toggle_action(m.gradation, tr::GraphFlag::GradientMode);
  double_sampling_ = toggle_action(m.double_sampling, tr::GraphFlag::DoubleSampling);
  polyline_ = toggle_action(m.polyline, tr::GraphFlag::Polyline);
  direction_ = toggle_action(m.reverse, tr::GraphFlag::Reverse);

  for (int i = 0; i <= tr::kReportListCount; ++i) {
    const bool hide = i == tr::kReportListCount;
    auto* a = new QAction(qs(hide ? m.hide_graph : m.lists[static_cast<std::size_t>(i)]), &owner_);
    a->setCheckable(true);
    a->setShortcut(QKeySequence(Qt::CTRL | (hide ? Qt::Key_0 : Qt::Key(Qt::Key_1 + i))));
    a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    const auto bit = static_cast<std::uint8_t>(hide ? tr::kGraphHiddenFlag : 1u << i);
    QObject::connect(a, &QAction::triggered, &owner_, [this, bit] { handlers_.toggle_flags(bit); });
    owner_.addAction(a);
    report_actions_.push_back(a);
  }
}

void GraphMenu::update(const tr::GraphSettings& settings, std::uint8_t flags) {
  view_mode_->setChecked(settings.view_mode);
  max_line_->setChecked(settings.max_line_mode);
  report_mode_->setChecked(settings.report_mode);
  gradient_->setChecked(settings.gradient_mode);
  double_sampling_->setChecked(settings.double_sampling);
  polyline_->setChecked(settings.polyline);
  direction_->setChecked(settings.reverse);
  for (int i = 0; i <= tr::kReportListCount; ++i) {
    const unsigned bit = i == tr::kReportListCount ? tr::kGraphHiddenFlag : 1u << i;
    report_actions_[static_cast<std::size_t>(i)]->setChecked((flags & bit) != 0);
  }
}

QMenu* GraphMenu::create(QWidget* parent) const {
  const MenuTexts& m = pick(lang_, kMenuEn, kMenuJa);
  auto* menu = new QMenu(parent);
  const auto command = [&](const char* text, const std::function<void()>& run) {
    QObject::connect(menu->addAction(qs(text)), &QAction::triggered, &owner_, [run] { run(); });
  };
  command(m.reset_graph, handlers_.reset_graph);
  command(m.reset_gross, handlers_.reset_gross);
  command(m.copy_info, handlers_.copy_information);
  command(m.snapshot, handlers_.snapshot);
  menu->addSeparator();
  QMenu* display = menu->addMenu(qs(m.display_mode));
  display->addActions({view_mode_, max_line_, report_mode_, gradient_});
  QMenu* drawing = menu->addMenu(qs(m.drawing));
  drawing->addActions({double_sampling_, polyline_, direction_});
  QMenu* report = menu->addMenu(qs(m.report));
  for (int i = 0; i < tr::kReportListCount; ++i) report->addAction(report_actions_[static_cast<std::size_t>(i)]);
  report->addSeparator();
  report->addAction(report_actions_.back());
  return menu;
}

void GraphMenu::toggle(tr::GraphFlag flag) {
  tr::toggle_graph_flag(profile_, flag);
  handlers_.setting_written(flag);
}

void GraphMenu::write_font_size(int size) {
  tr::save_graph_font_size(profile_, size);
  handlers_.setting_written(std::nullopt);
}

}  // namespace tw::ui
