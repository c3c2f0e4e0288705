// EngineEditorLink: an editor joined to an engine in the same process. The
// editor's gestures set the engine's parameters; the engine's changes (from
// programs, MIDI, automation) and learn outlines reach the editor. A format
// adapter derives from it to tell its host about the user's edits; the
// standalone program, pictures of the editor and tests use it as it is.
#pragma once

#include "EditorEffect.h"
#include "TolvaneEditor.h"
#include "TolvaneEngine.h"

class EngineEditorLink : public EditorEffect, public TolvaneEngine::Observer {
public:
    // Observes the engine until destroyed.
    explicit EngineEditorLink(TolvaneEngine& engine) : engine(engine) { engine.setObserver(this); }
    ~EngineEditorLink() override { engine.setObserver(nullptr); }
    EngineEditorLink(const EngineEditorLink&) = delete;
    EngineEditorLink& operator=(const EngineEditorLink&) = delete;

    // The editor that shows the engine's changes; null for none.
    void setEditor(TolvaneEditor* shown) { editor.store(shown); }

    float getParameter(int32_t index) override { return engine.getParameter(index); }
    void setParameterAutomated(int32_t index, float value) override { engine.setParameter(index, value); }
    void beginEdit(int32_t) override {}
    void endEdit(int32_t) override {}
    float getMeterValue() override { return engine.getMeterValue(); }
    void toggleLearn(int32_t parameter) override { engine.toggleLearn(parameter); }
    bool hasKey() override { return engine.parameterCount() == TolvaneEngine::kSideChainParameterCount; }

    void parameterChanged(int32_t index, float value) override {
        if (TolvaneEditor* e = editor.load()) e->setParameter(index, value);
    }
    void learnChanged(int32_t parameter, bool on) override {
        if (TolvaneEditor* e = editor.load()) e->setHighlight(parameter, on);
    }

protected:
    TolvaneEngine& engine;
    std::atomic<TolvaneEditor*> editor{nullptr};
};
