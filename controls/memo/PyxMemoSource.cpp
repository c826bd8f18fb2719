// The shared document: its properties, attaching and detaching memos, and its lifetime.
#include "controls/memo/PyxMemoSource.h"

#include <algorithm>

#include "controls/memo/PyxMemo.h"
#include "host/PropertyRegistry.h"

namespace ostra {

namespace {

[[maybe_unused]] const bool kMemoSourcePublished = Publish<TPyxMemoSource, TComponent>()
    .Component("SyntaxStyler", &TPyxMemoSource::SyntaxStyler, &TPyxMemoSource::SetSyntaxStyler)
    .Object("Lines", [](const TPyxMemoSource& o) { return &o.Lines(); })
    .Boolean("ReadOnly", &TPyxMemoSource::ReadOnly, &TPyxMemoSource::SetReadOnly)
    .Default(false);

}  // namespace

TPyxMemoSource::TPyxMemoSource(TComponent* AOwner)
    : TComponent(AOwner), FLines(std::make_unique<TPyxMemoStrings>()), FUndoList(std::make_unique<TPyxUndoList>()) {}

TPyxMemoSource::~TPyxMemoSource() {
    Destroying();
    AttachMemo(nullptr);
    // Each memo forgets this document before its lines and undo list go.
    while (!FMemos.empty()) {
        TPyxMemo* memo = FMemos.back();
        FMemos.pop_back();
        memo->MemoSourceDestroyed();
    }
    SetSyntaxStyler(nullptr);
}

void TPyxMemoSource::SetSyntaxStyler(TPyxCustomMemoStyler* Value) {
    if (Value == FSyntaxStyler) return;
    if (FSyntaxStyler) {
        if (FAttachedMemo && FSyntaxStyler->AllStyles().StyledMemo() == FAttachedMemo)
            FSyntaxStyler->AllStyles().SetStyledMemo(nullptr);
        RemoveFreeNotification(FSyntaxStyler);
    }
    FSyntaxStyler = Value;
    if (Value) {
        FreeNotification(Value);
        Value->FreeNotification(this);
    }
    if (FAttachedMemo) {
        // The attached memo colours with the new styles from its next paint on.
        if (Value) Value->AllStyles().SetStyledMemo(FAttachedMemo);
        FAttachedMemo->StylesChanged();
        FAttachedMemo->Invalidate();
    }
}

void TPyxMemoSource::SetLines(const TStrings* Value) {
    if (!Value || Value == FLines.get()) return;
    FLines->Clear();
    for (int i = 0; i < Value->Count(); ++i) FLines->Add(Value->Strings(i));
    // The attached memo's place may lie beyond the new text.
    if (FAttachedMemo) FAttachedMemo->EffectiveDocumentChanged();
}

bool TPyxMemoSource::ReadOnly() const {
    return FAttachedMemo ? FAttachedMemo->ReadOnly() : FReadOnly;
}

void TPyxMemoSource::SetReadOnly(bool Value) {
    if (FAttachedMemo)
        FAttachedMemo->SetReadOnly(Value);
    else
        FReadOnly = Value;
}

void TPyxMemoSource::LinkMemo(TPyxMemo* Memo) {
    if (FSyntaxStyler) {
        TElementStyles& styles = FSyntaxStyler->AllStyles();
        if (Memo || styles.StyledMemo() == FAttachedMemo) styles.SetStyledMemo(Memo);
    }
    FLines->SetOwnerMemo(Memo);
    if (Memo)
        FLines->OnChange = [Memo](TObject*) { Memo->LinesChanged(); };
    else
        FLines->OnChange = nullptr;
    FUndoList->SetTargetMemo(Memo);
}

void TPyxMemoSource::AttachMemo(TPyxMemo* Memo) {
    if (Memo == FAttachedMemo) return;
    if (Memo && Memo->MemoSource() != this) {
        // Pointing the memo here attaches it (unless it is loading: then its Loaded does).
        Memo->SetMemoSource(this);
        return;
    }
    if (TPyxMemo* old = FAttachedMemo) {
        LinkMemo(nullptr);
        FReadOnly = old->ReadOnly();
        FCaretSnapshot = old->SaveCaretSnapshot();
        FAttachedMemo = nullptr;
        old->Invalidate();
    }
    if (!Memo) return;
    FAttachedMemo = Memo;
    LinkMemo(Memo);
    Memo->RestoreCaretSnapshot(FCaretSnapshot);
    Memo->SetReadOnly(FReadOnly);
    Memo->Invalidate();
}

void TPyxMemoSource::AddMemo(TPyxMemo* Memo) {
    if (std::find(FMemos.begin(), FMemos.end(), Memo) == FMemos.end()) FMemos.push_back(Memo);
}

void TPyxMemoSource::RemoveMemo(TPyxMemo* Memo) {
    FMemos.erase(std::remove(FMemos.begin(), FMemos.end(), Memo), FMemos.end());
}

void TPyxMemoSource::Notification(TComponent* AComponent, TOperation Operation) {
    if (Operation == opRemove && AComponent != nullptr) {
        if (AComponent == FSyntaxStyler) {
            FSyntaxStyler = nullptr;
            if (FAttachedMemo) {
                FAttachedMemo->StylesChanged();
                FAttachedMemo->Invalidate();
            }
        }
        // A memo leaves on its own before it goes (TPyxMemo's destructor); this only drops the
        // pointer of one that could not.
        if (AComponent == FAttachedMemo) {
            LinkMemo(nullptr);
            FAttachedMemo = nullptr;
        }
    }
    TComponent::Notification(AComponent, Operation);
}

}  // namespace ostra
