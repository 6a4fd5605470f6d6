// MessageBoxA: the box is a window the driver sees and answers; the calling
// thread waits for that answer as a person's click would end the box.
#include "platform/linux/event_log.h"
#include "platform/linux/window_registry.h"

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    std::unique_lock<std::mutex> lock(layer::Mutex());
    auto box = std::make_unique<layer::Window>();
    box->kind = layer::WindowKind::MessageBox;
    box->owner = std::this_thread::get_id();
    box->text = caption == nullptr ? "Error" : caption;  // the default caption of Windows
    box->body = text == nullptr ? "" : text;
    box->type = type;
    box->visible = true;
    headless::Event event;
    event.kind = headless::EventKind::MessageBoxShown;
    event.title = box->text;
    event.text = box->body;
    event.type = type;
    HWND handle = layer::AddWindow(std::move(box));
    event.window = handle;
    layer::RecordEvent(event);

    layer::Changed().wait(lock, [&] { return layer::Find(handle)->answered; });
    int answer = layer::Find(handle)->answer;
    event.kind = headless::EventKind::MessageBoxClosed;
    layer::RecordEvent(event);
    layer::Remove(handle);
    return answer;
}
