#pragma once
// A top-level window built from a design table. Like a form of a visual
// designer it is loaded (created hidden with its controls), shown and
// unloaded; while loaded it keeps itself alive, so an owner may drop its
// reference to a window that is still on screen.

#include <windows.h>

#include <memory>
#include <optional>
#include <vector>

#include "controls/dialog_navigation.h"
#include "controls/form_control.h"
#include "controls/form_design.h"
#include "foundation/handles.h"
#include "foundation/module.h"
#include "controls/window.h"

namespace kt {

// Hourglass: busy, takes no input; ArrowHourglass: busy, and still takes some.
enum class MousePointer { Default, Hourglass, ArrowHourglass };

class Form : public Window, public std::enable_shared_from_this<Form> {
public:
    // Creates the window and its controls, hidden, and runs Form_Load. An
    // owned window stays in front of its owner and has no taskbar button.
    void Load(HWND owner = nullptr);
    // Shows the loaded window modeless.
    void Show();
    // Runs Form_Unload and destroys the window.
    void Unload();
    bool IsLoaded() const noexcept { return hwnd() != nullptr; }

    // Outer size in twips, frame and caption included.
    float Width() const;
    float Height() const;
    void Width(float twips);
    void Height(float twips);

    MousePointer Pointer() const noexcept { return pointer_; }
    void Pointer(MousePointer pointer);

    float twipsPerPixelX() const noexcept { return twipsPerPixelX_; }
    float twipsPerPixelY() const noexcept { return twipsPerPixelY_; }

    // Where a control of this design with this geometry is, in the window's pixels.
    PixelRect pixelsFor(const ControlDesign& design, const TwipsRect& geometry) const;

protected:
    explicit Form(const FormDesign& design);

    template <class Control = FormControl>
    Control& control(std::size_t row) const {
        return static_cast<Control&>(*controls_.at(row));
    }

    virtual void Form_Load() {}
    // Whether the window may close now when the user closes it from its
    // frame (close box, system menu, Alt+F4); it stays when not.
    virtual bool Form_QueryUnload() { return true; }
    virtual void Form_Unload() {}
    virtual void Form_Resize() {}
    virtual void Form_Move() {}
    // The window is no longer the active one.
    virtual void Form_Deactivate() {}
    // A command of a pop-up menu of this window.
    virtual void onMenuCommand(WORD) {}

    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void onFinalMessage() override;
    void resizeOuter(int widthPixels, int heightPixels);
    // Runs Form_Resize unless the window has the size it was last laid out
    // for, or is minimized.
    void layOutIfResized();
    void createControls();
    HFONT fontFor(const FontDesign& design);
    void addTooltip(HWND control, const wchar_t* text);
    void showPointer() const;

    const FormDesign& design_;
    ModuleLock moduleLock_;
    float twipsPerPixelX_ = 15;
    float twipsPerPixelY_ = 15;
    std::vector<std::unique_ptr<FormControl>> controls_;
    std::vector<std::pair<FontDesign, UniqueFont>> fonts_;
    HWND tooltip_ = nullptr;  // owned by the window, destroyed with it
    std::optional<DialogNavigation> navigation_;
    std::shared_ptr<Form> self_;  // while loaded
    MousePointer pointer_ = MousePointer::Default;
    bool controlsReady_ = false;
    bool loaded_ = false;  // Form_Load ran to its end
    bool shownBefore_ = false;
    SIZE laidOutSize_{-1, -1};
};

}  // namespace kt
