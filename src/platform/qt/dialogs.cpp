// The Qt layer's menus and dialogs: the context menu, the file and folder
// choosers, questions and errors, the trash, the About box and the catalog's
// "Results Report".
#include <QCursor>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/qt/qt_window.h"
#include "ports/desktop.h"
#include "ports/files.h"
#include "ports/folders.h"
#include "state/settings_block.h"
#include "state/version.h"

namespace {

void fill_menu(QMenu* menu, const std::vector<MenuItem>& items) {
  for (const MenuItem& item : items) {
    if (!item.items.empty()) {
      fill_menu(menu->addMenu(QString::fromLocal8Bit(item.text.c_str())), item.items);
    } else if (item.id == 0) {
      menu->addSeparator();
    } else {
      QAction* action = menu->addAction(QString::fromLocal8Bit(item.text.c_str()));
      action->setData(item.id);
      action->setCheckable(item.checked);
      action->setChecked(item.checked);
    }
  }
}

bool fits(const QByteArray& path) {
  return path.size() > 0 && path.size() < kPathBytes;
}

}  // namespace

std::int32_t desktop_track_menu(PlatformWindow* window, const std::vector<MenuItem>& items) {
  QMenu menu(window != nullptr ? window->widget : nullptr);
  fill_menu(&menu, items);
  // The menu's top right corner at the pointer.
  const QPoint pointer = QCursor::pos();
  const QAction* chosen = menu.exec(pointer - QPoint(menu.sizeHint().width(), 0));
  return chosen != nullptr ? chosen->data().toInt() : 0;
}

bool desktop_open_with_default(const char* path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(path)));
}

bool desktop_choose_folder(PlatformWindow* window, char* destination) {
  const QString folder = QFileDialog::getExistingDirectory(window->widget, "Choose Folder");
  const QByteArray bytes = QFile::encodeName(folder);
  if (folder.isEmpty() || !fits(bytes)) return false;
  std::memcpy(destination, bytes.constData(), static_cast<std::size_t>(bytes.size()) + 1);
  return true;
}

bool desktop_choose_file(PlatformWindow* window, char* buffer, const char* image_patterns,
                         std::int32_t* filter_index) {
  const QStringList filters = {QString("Image Files (%1)").arg(QString::fromLatin1(image_patterns)),
                               "Audio Files (*.mid *.wav *.mp3 *.rmi *.aif *.au *.snd)",
                               "Executable Files (*.exe)", "All Files (*)"};
  QFileDialog dialog(window->widget, kProgramTitle);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(filters.value(*filter_index, filters.front()));
  const QString start = QFile::decodeName(buffer);
  if (QFileInfo(start).isDir()) {
    dialog.setDirectory(start);
  } else {
    dialog.selectFile(start);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  // The filter chosen last is kept for the run.
  *filter_index = static_cast<std::int32_t>(filters.indexOf(dialog.selectedNameFilter()));
  if (*filter_index < 0) *filter_index = 0;
  const QByteArray bytes = QFile::encodeName(dialog.selectedFiles().front());
  if (!fits(bytes)) return false;
  std::memcpy(buffer, bytes.constData(), static_cast<std::size_t>(bytes.size()) + 1);
  return true;
}

bool desktop_ask_yes_no(PlatformWindow* window, const char* title, const char* text) {
  QMessageBox box(QMessageBox::Question, QString::fromLocal8Bit(title),
                  QString::fromLocal8Bit(text), QMessageBox::Yes | QMessageBox::No,
                  window != nullptr ? window->widget : nullptr);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void desktop_show_error(PlatformWindow* window, const char* title, const char* text) {
  QMessageBox::warning(window != nullptr ? window->widget : nullptr, QString::fromLocal8Bit(title),
                       QString::fromLocal8Bit(text));
}

bool desktop_move_to_trash(const char* path) {
  // Qt puts the file into ./files/ of the current folder when the user's
  // data folder does not exist yet: make sure it does.
  char data_home[4096];
  if (user_folder(UserFolder::data_home, data_home, sizeof data_home) < 0 ||
      !make_folders(data_home)) {
    return false;
  }
  QString in_trash;
  const QString name = QFile::decodeName(path);
  if (!QFile::moveToTrash(name, &in_trash)) return false;
  if (!QFileInfo(in_trash).isAbsolute() || !QFileInfo::exists(in_trash)) {
    // Not where a trash keeps files: put it back and call it a failure.
    if (!in_trash.isEmpty()) QFile::rename(in_trash, name);
    return false;
  }
  return true;
}

void desktop_about_box(PlatformWindow* window, const char* program_folder,
                       const char* data_folder) {
  QDialog dialog(window != nullptr ? window->widget : nullptr);
  dialog.setWindowTitle("About Tessmira");
  auto* layout = new QVBoxLayout(&dialog);
  auto* name = new QLabel(QString("<b>%1</b><br>A small, fast image viewer.").arg(kProgramTitle));
  layout->addWidget(name);
  auto add_folder = [&](const char* what, const char* folder) {
    auto* row = new QHBoxLayout;
    const QString text = QString::fromLocal8Bit(folder);
    row->addWidget(
        new QLabel(QString(what) + ": " + (text.isEmpty() ? "(the current folder)" : text)));
    auto* open = new QPushButton("Open");
    QObject::connect(open, &QPushButton::clicked,
                     [folder] { desktop_open_with_default(folder[0] != '\0' ? folder : "."); });
    row->addWidget(open);
    layout->addLayout(row);
  };
  add_folder("Program folder", program_folder);
  add_folder("Data folder", data_folder);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  layout->addWidget(buttons);
  dialog.exec();
}

namespace {

// "Results Report": closes only once the build it reports has ended.
struct ReportDialog : QDialog {
  bool finished = false;
  void reject() override {
    if (finished) QDialog::reject();
  }
  void accept() override {
    if (finished) QDialog::accept();
  }
};

}  // namespace

std::string desktop_find_file(PlatformWindow* window, FindReader read, void* context) {
  QDialog dialog(window != nullptr ? window->widget : nullptr);
  dialog.setWindowTitle("Find File");
  dialog.resize(640, 440);
  auto* layout = new QVBoxLayout(&dialog);
  auto* field = new QLineEdit;
  field->setPlaceholderText("Part of a name or path; * and ? as in a shell");
  layout->addWidget(field);
  auto* list = new QListWidget;
  layout->addWidget(list);
  auto* status = new QLabel;
  layout->addWidget(status);
  // Each path's own bytes ride with its item: the text shown is only a decoding.
  QObject::connect(field, &QLineEdit::textChanged, [&] {
    std::vector<std::string> paths;
    const QByteArray pattern = field->text().toLocal8Bit();
    read(context, pattern.constData(), &paths);
    list->clear();
    for (const std::string& path : paths) {
      auto* item = new QListWidgetItem(QString::fromLocal8Bit(path.c_str()));
      item->setData(Qt::UserRole, QByteArray(path.data(), static_cast<qsizetype>(path.size())));
      list->addItem(item);
    }
    if (!paths.empty()) list->setCurrentRow(0);
    status->setText(pattern.isEmpty() ? QString()
                    : paths.size() >= kFindListed
                        ? QString("the first %1 matches").arg(paths.size())
                        : QString("%1 matches").arg(paths.size()));
  });
  std::string chosen;
  auto choose = [&](QListWidgetItem* item) {
    if (item == nullptr) return;
    chosen = item->data(Qt::UserRole).toByteArray().toStdString();
    dialog.accept();
  };
  QObject::connect(list, &QListWidget::itemActivated, choose);
  QObject::connect(field, &QLineEdit::returnPressed, [&] { choose(list->currentItem()); });
  // Up and Down in the field move through the list.
  struct Arrows : QObject {
    QListWidget* list;
    bool eventFilter(QObject*, QEvent* event) override {
      if (event->type() != QEvent::KeyPress) return false;
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key != Qt::Key_Up && key != Qt::Key_Down) return false;
      const int row = list->currentRow() + (key == Qt::Key_Down ? 1 : -1);
      if (row >= 0 && row < list->count()) list->setCurrentRow(row);
      return true;
    }
  } arrows;
  arrows.list = list;
  field->installEventFilter(&arrows);
  dialog.exec();
  return chosen;
}

void desktop_catalog_report(ReportReader read, void* context) {
  ReportDialog dialog;
  dialog.setWindowTitle("Results Report");
  dialog.resize(420, 620);
  auto* layout = new QVBoxLayout(&dialog);
  auto* text = new QPlainTextEdit;
  text->setReadOnly(true);
  layout->addWidget(text);
  auto* count = new QLabel;
  layout->addWidget(count);
  auto* ok = new QPushButton("OK");
  ok->setDefault(true);
  ok->setEnabled(false);
  QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
  layout->addWidget(ok);

  QTimer progress;
  QObject::connect(&progress, &QTimer::timeout, [&] {
    ReportSnapshot snapshot;
    read(context, &snapshot);
    if (snapshot.log_changed) {
      text->setPlainText(QString::fromLocal8Bit(snapshot.log.c_str()));
      text->moveCursor(QTextCursor::End);
    }
    count->setText(QString::fromLocal8Bit(snapshot.status.c_str()));
    if (snapshot.finished) {
      dialog.finished = true;
      progress.stop();
      ok->setEnabled(true);
    }
  });
  progress.start(200);
  dialog.exec();
}
