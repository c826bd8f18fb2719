// orqJoinDataProviderUnit: holders, join fields and the provider classes (the bridge is in
// orqDatasetBridge.cpp, the manager in orqJoinDataProviderMgr.cpp).
#include "engine/components/orqJoinDataProviderUnit.h"

#include "engine/components/orqJoinAnalysis.h"
#include "engine/sql/orqFilterEvaluator.h"
#include "host/Collation.h"
#include "host/Exceptions.h"
#include "host/Streams.h"
#include "host/SysUtils.h"

namespace ostra {

std::string JoinFieldTableName(const TOrqExprNode& Node) {
    if (Node.Tables().Count() > 0) {
        return Node.Tables().Items(0)->ReferenceName();
    }
    if (!Node.TokenArgs().empty()) return Node.TokenArgs()[0]->Text();
    return "";
}

// ---------------------------------------------------------------------------------------------
// TDataHolder

TDataHolder::TDataHolder() = default;
TDataHolder::~TDataHolder() = default;

TMemoryStream& TDataHolder::Stream() {
    if (!FStream) FStream = std::make_unique<TMemoryStream>();
    return *FStream;
}

void TDataHolder::SetNull() {
    IsNull = true;
    Length = 0;
    Data = nullptr;
    UsesStream = false;
}

// ---------------------------------------------------------------------------------------------
// TJoinFieldItem, TJoinFields

TJoinFieldItem::TJoinFieldItem(TCollection* ACollection)
    : TInternalFieldItem(ACollection), FEvaluator(std::make_unique<TExprEvaluator>()) {}

TJoinFieldItem::~TJoinFieldItem() = default;

void TJoinFieldItem::Assign(const TPersistent* Source) {
    TInternalFieldItem::Assign(Source);
    if (const auto* src = dynamic_cast<const TJoinFieldItem*>(Source)) {
        FSourceFieldNo = src->FSourceFieldNo;
        FDataProvider = src->FDataProvider;
    }
}

void TJoinFieldItem::PrepareJoinExprEvaluator(const TOrqExprNode* Root) {
    Assert(FDataProvider != nullptr, "Join Field data provider is not yet assigned");
    FEvaluator->Clear();
    if (Root == nullptr) return;
    FEvaluator->SetExcludeRelopNulls(true);
    FEvaluator->SetDBStringCompare(FDataProvider->DBStringCompare());
    FEvaluator->Prepare(FDataProvider, Root);
}

TJoinFields::TJoinFields(TPersistent* AOwner) : TInternalFields(ItemClassOf<TJoinFieldItem>(), AOwner) {}

TJoinFieldItem* TJoinFields::Add() { return static_cast<TJoinFieldItem*>(TInternalFields::Add()); }

TJoinFieldItem* TJoinFields::GetItems(int Position) const { return static_cast<TJoinFieldItem*>(Items(Position)); }

void TJoinFields::SetItems(int Position, const TJoinFieldItem* Item) { TCollection::SetItems(Position, Item); }

TJoinFieldItem* TJoinFields::FindField(const std::string& Name) const {
    return static_cast<TJoinFieldItem*>(TInternalFields::FindField(Name));
}

void TJoinFields::Assign(const TPersistent* Source) {
    if (const auto* src = dynamic_cast<const TJoinFields*>(Source)) {
        Clear();
        for (int i = 0; i < src->Count(); ++i) Add()->Assign(src->GetItems(i));
        return;
    }
    TInternalFields::Assign(Source);
}

// ---------------------------------------------------------------------------------------------
// TOrqBaseJoinDataProvider

TOrqBaseJoinDataProvider::TOrqBaseJoinDataProvider() = default;
TOrqBaseJoinDataProvider::~TOrqBaseJoinDataProvider() = default;

TOrqExprDataProvider* TOrqBaseJoinDataProvider::FindProvider(const std::string& Name) { return FindJoinProvider(Name); }

void TOrqBaseJoinDataProvider::SetProviderName(const std::string& Value) { FProviderName = Value; }

void TOrqBaseJoinDataProvider::GetRawFieldData(int, TDataHolder&) {}

bool TOrqBaseJoinDataProvider::NextProviderRecord() { return false; }
bool TOrqBaseJoinDataProvider::FirstProviderRecord() { return false; }
bool TOrqBaseJoinDataProvider::LastProviderRecord() { return false; }

void TOrqBaseJoinDataProvider::OpenProvider() { FIsOpen = true; }

void TOrqBaseJoinDataProvider::SetSelectExpr(bool, const std::string&) {}

bool TOrqBaseJoinDataProvider::IsNamed(const std::string& Name) const {
    return AnsiSameText(FProviderName, Name) || (!Name.empty() && AnsiSameText(FCorrelationName, Name));
}

bool TOrqBaseJoinDataProvider::IsOwnName(const std::string& Name) const {
    return !Name.empty() && AnsiSameText(FCorrelationName.empty() ? FProviderName : FCorrelationName, Name);
}

TOrqBaseJoinDataProvider* TOrqBaseJoinDataProvider::FindInTree(const std::string& Name, bool OwnName) {
    if (OwnName ? IsOwnName(Name) : IsNamed(Name)) return this;
    if (FInnerProvider)
        if (TOrqBaseJoinDataProvider* found = FInnerProvider->FindInTree(Name, OwnName)) return found;
    return FOuterProvider ? FOuterProvider->FindInTree(Name, OwnName) : nullptr;
}

TOrqBaseJoinDataProvider* TOrqBaseJoinDataProvider::FindJoinProvider(const std::string& Name) {
    return FindJoinProviderIn(this, nullptr, Name);
}

bool InProviderTree(const TOrqBaseJoinDataProvider* Tree, const TOrqBaseJoinDataProvider* Provider) {
    if (Tree == nullptr) return false;
    if (Tree == Provider) return true;
    return InProviderTree(Tree->OuterProvider(), Provider) || InProviderTree(Tree->InnerProvider(), Provider);
}

TOrqBaseJoinDataProvider* FindJoinProviderIn(TOrqBaseJoinDataProvider* First, TOrqBaseJoinDataProvider* Second,
                                             const std::string& Name) {
    for (bool ownName : {true, false})
        for (TOrqBaseJoinDataProvider* tree : {First, Second})
            if (tree)
                if (TOrqBaseJoinDataProvider* found = tree->FindInTree(Name, ownName)) return found;
    return nullptr;
}

void TOrqBaseJoinDataProvider::SetJoinSelectExprRoot(const TOrqExprNode* Root) {
    FJoinSelectExpr.reset();
    if (Root == nullptr) return;
    FJoinSelectExpr = std::make_unique<TOrqExpr>();
    FJoinSelectExpr->CloneFromTree(Root);
}

void TOrqBaseJoinDataProvider::SetExtraSelectExpRoot(const TOrqExprNode* Root) { SetJoinSelectExprRoot(Root); }

int TOrqBaseJoinDataProvider::GetRecordCount() { return -1; }

std::string TOrqBaseJoinDataProvider::CurrentRecordIDAsString() { return ""; }

const TOrqExprNode* TOrqBaseJoinDataProvider::JoinSelectExprRoot() const {
    return FJoinSelectExpr ? FJoinSelectExpr->FirstNode() : nullptr;
}

bool TOrqBaseJoinDataProvider::NullsForced() const {
    for (const TOrqBaseJoinDataProvider* p = this; p != nullptr; p = p->FParentProvider)
        if (p->FForceToNullValues) return true;
    return false;
}

// ---------------------------------------------------------------------------------------------
// TOrqNonJoinDataProvider

TOrqNonJoinDataProvider::TOrqNonJoinDataProvider() = default;
TOrqNonJoinDataProvider::~TOrqNonJoinDataProvider() = default;

TInternalFields* TOrqNonJoinDataProvider::GetProviderFields() { return &ProviderFields(); }

bool TOrqNonJoinDataProvider::ResetForRun() {
    if (FDataBridge == nullptr || !FDataBridge->Active()) return false;
    FDataBridge->PrepareForReuse();
    SetIsOpen(false);
    return true;
}

bool TOrqNonJoinDataProvider::ReadsNull() {
    return NullsForced() || FDataBridge == nullptr || !FDataBridge->InternalActive() || FDataBridge->AtEnd();
}

Variant TOrqNonJoinDataProvider::GetDataAsVariant(int FieldNo) {
    if (ReadsNull()) return Null();
    return FDataBridge->GetFieldDataAsVariant(FieldNo);
}

bool TOrqNonJoinDataProvider::IsFieldNull(int FieldNo) {
    return ReadsNull() || FDataBridge->GetIsFieldNullFromRecBuf(FDataBridge->RecordBuffer(), FieldNo);
}

bool TOrqNonJoinDataProvider::GetFieldNumber(int FieldNo, double& Value) {
    if (ReadsNull() || FDataBridge->IsFieldBlob(FieldNo)) return false;
    return FDataBridge->GetFieldNumberFromRecBuf(FDataBridge->RecordBuffer(), FieldNo, Value);
}

TInternalFieldItem* TOrqNonJoinDataProvider::FindField(const TParserToken*, const std::string& Name) {
    return ProviderFields().FindField(Name);
}

TOrqExprDataProvider* TOrqNonJoinDataProvider::FindProvider(const std::string& Name) {
    if (IsNamed(Name)) return this;
    return FindJoinProvider(Name);
}

void TOrqNonJoinDataProvider::SetProviderName(const std::string& Value) {
    TOrqBaseJoinDataProvider::SetProviderName(Value);
    if (FDataBridge) FDataBridge->SetTableName(Value);
}

void TOrqNonJoinDataProvider::GetRawFieldData(int FieldNo, TDataHolder& Holder) {
    if (ReadsNull()) {
        Holder.SetNull();
        return;
    }
    FDataBridge->GetRawFieldData(FieldNo, Holder);
}

bool TOrqNonJoinDataProvider::NextProviderRecord() { return FDataBridge && FDataBridge->NextBridgeRecord(); }
bool TOrqNonJoinDataProvider::FirstProviderRecord() { return FDataBridge && FDataBridge->FirstBridgeRecord(); }
bool TOrqNonJoinDataProvider::LastProviderRecord() { return FDataBridge && FDataBridge->LastBridgeRecord(); }

void TOrqNonJoinDataProvider::OpenProvider() {
    Assert(FDataBridge != nullptr, "The data bridge is not assigned");
    FDataBridge->OpenBridge();
    // The provider's fields are the table's, numbered as the cursor numbers them.
    TInternalFields& fields = ProviderFields();
    fields.Assign(&FDataBridge->GetInternalFields());
    for (int i = 0; i < fields.Count(); ++i) fields.GetIndex(i)->SetFieldNo(fields.GetIndex(i)->FieldIndex());
    SetDBStringCompare(FDataBridge->StringCompare());
    // A range of an earlier open is dropped; the join analysis sets it again when it wants one.
    FDataBridge->ClearBridgeIndexRange();
    TOrqBaseJoinDataProvider::OpenProvider();
}

void TOrqNonJoinDataProvider::ApplyFilter(TOrqExpr* Expr, bool EnforceExprOrder, const std::string& OrderIndexName) {
    if (Expr == nullptr || Expr->FirstNode() == nullptr) {
        FDataBridge->ClearJoinSelectExpr();
        if (EnforceExprOrder && !OrderIndexName.empty()) FDataBridge->InternalSetIndexName(OrderIndexName);
        return;
    }
    TOrqFilterExprDriver driver;
    driver.SetFilterExpr(Expr);
    driver.SetExcludeRelopNulls(true);
    driver.SetOverwriteExpr(false);
    driver.SetEnforceExprOrder(EnforceExprOrder && !OrderIndexName.empty());
    driver.SetOrderIndexName(OrderIndexName);
    FDataBridge->SetJoinSelectExprRoot(driver);
}

void TOrqNonJoinDataProvider::SetSelectExpr(bool EnforceExprOrder, const std::string& OrderIndexName) {
    Assert(FDataBridge != nullptr, "The data bridge is not assigned");
    FDataBridge->OpenBridge();
    ApplyFilter(JoinSelectExpr(), EnforceExprOrder, OrderIndexName);
}

void TOrqNonJoinDataProvider::SetJoinSelectExprRoot(const TOrqExprNode* Root) {
    TOrqBaseJoinDataProvider::SetJoinSelectExprRoot(Root);
    if (FDataBridge && FDataBridge->InternalActive()) ApplyFilter(JoinSelectExpr(), false, "");
}

void TOrqNonJoinDataProvider::SetExtraSelectExpRoot(const TOrqExprNode* Root) {
    FExtraSelectExpr.reset();
    if (Root != nullptr) {
        FExtraSelectExpr = std::make_unique<TOrqExpr>();
        TOrqExprNode* extra = FExtraSelectExpr->CloneSubTree(Root);
        if (const TOrqExprNode* own = JoinSelectExprRoot()) {
            TOrqExprNode* both = FExtraSelectExpr->NewNode(enkLogicalOperator, oeoAND, Variant(), extra,
                                                          FExtraSelectExpr->CloneSubTree(own), nullptr);
            FExtraSelectExpr->SetAsFirstNode(both);
        } else {
            FExtraSelectExpr->SetAsFirstNode(extra);
        }
    }
    if (FDataBridge && FDataBridge->InternalActive())
        ApplyFilter(FExtraSelectExpr ? FExtraSelectExpr.get() : JoinSelectExpr(), false, "");
}

int TOrqNonJoinDataProvider::GetRecordCount() {
    if (FDataBridge == nullptr) return -1;
    if (FDataBridge->InternalActive()) return FDataBridge->GetBridgeRecordCount();
    FDataBridge->OpenBridge();
    const int count = FDataBridge->GetBridgeRecordCount();
    FDataBridge->Close();
    return count;
}

std::string TOrqNonJoinDataProvider::CurrentRecordIDAsString() {
    if (ReadsNull()) return "";
    const uint32_t address = FDataBridge->GetRecAddr();
    return address == 0 ? "" : std::to_string(address);
}

// ---------------------------------------------------------------------------------------------
// TOrqStdJoinDataProvider

TOrqStdJoinDataProvider::TOrqStdJoinDataProvider()
    : FJoinFields(std::make_unique<TJoinFields>()),
      FJoinAnalyser(std::make_unique<TJoinAnalyser>()),
      FJoinEvaluator(std::make_unique<TJoinEvaluator>()) {
    FJoinAnalyser->SetJoinType(jtInnerJoin);
    FJoinEvaluator->SetJoinAnalyser(FJoinAnalyser.get());
}

TOrqStdJoinDataProvider::~TOrqStdJoinDataProvider() = default;

TInternalFields* TOrqStdJoinDataProvider::GetProviderFields() { return FJoinFields.get(); }

TJoinFieldItem& TOrqStdJoinDataProvider::JoinField(int FieldNo) const {
    Assert(FieldNo >= 0 && FieldNo < FJoinFields->Count(), "Join field number is out of range");
    return *FJoinFields->GetItems(FieldNo);
}

Variant TOrqStdJoinDataProvider::GetDataAsVariant(int FieldNo) {
    if (NullsForced()) return Null();
    TJoinFieldItem& field = JoinField(FieldNo);
    return field.DataProvider()->GetDataAsVariant(field.SourceFieldNo());
}

bool TOrqStdJoinDataProvider::IsFieldNull(int FieldNo) {
    if (NullsForced()) return true;
    TJoinFieldItem& field = JoinField(FieldNo);
    return field.DataProvider()->IsFieldNull(field.SourceFieldNo());
}

bool TOrqStdJoinDataProvider::GetFieldNumber(int FieldNo, double& Value) {
    if (NullsForced()) return false;
    TJoinFieldItem& field = JoinField(FieldNo);
    return field.DataProvider()->GetFieldNumber(field.SourceFieldNo(), Value);
}

void TOrqStdJoinDataProvider::GetRawFieldData(int FieldNo, TDataHolder& Holder) {
    if (NullsForced()) {
        Holder.SetNull();
        return;
    }
    TJoinFieldItem& field = JoinField(FieldNo);
    field.DataProvider()->GetRawFieldData(field.SourceFieldNo(), Holder);
}

namespace {

// The single-table provider and field number a column of Provider comes from.
std::pair<TOrqBaseJoinDataProvider*, int> FieldOrigin(TOrqBaseJoinDataProvider* Provider, int FieldNo) {
    while (auto* join = dynamic_cast<TOrqStdJoinDataProvider*>(Provider)) {
        if (FieldNo < 0 || FieldNo >= join->JoinFields().Count()) return {nullptr, -1};
        TJoinFieldItem* field = join->JoinFields().GetItems(FieldNo);
        Provider = field->DataProvider();
        FieldNo = field->SourceFieldNo();
    }
    return {Provider, FieldNo};
}

}  // namespace

TInternalFieldItem* TOrqStdJoinDataProvider::FindField(const TParserToken* Token, const std::string& Name) {
    if (TJoinFieldItem* field = FJoinFields->FindField(Name)) return field;
    if (Token != nullptr && Token->Token() == ostTableName)
        if (TJoinFieldItem* field = FJoinFields->FindField(Token->Text() + "." + Name)) return field;
    // A column of a provider below, given back as this provider's column of the same origin, so
    // that it reads through this provider's field numbers.
    for (TOrqBaseJoinDataProvider* side : {InnerProvider(), OuterProvider()}) {
        if (side == nullptr) continue;
        TInternalFieldItem* found = side->FindField(Token, Name);
        if (found == nullptr) continue;
        const auto origin = FieldOrigin(side, found->FieldNo());
        for (int i = 0; i < FJoinFields->Count(); ++i) {
            TJoinFieldItem* field = FJoinFields->GetItems(i);
            if (FieldOrigin(field->DataProvider(), field->SourceFieldNo()) == origin) return field;
        }
    }
    return nullptr;
}

bool TOrqStdJoinDataProvider::NextProviderRecord() { return FJoinEvaluator->NextRecord(); }

bool TOrqStdJoinDataProvider::FirstProviderRecord() { return FJoinEvaluator->FirstRecord(); }

void TOrqStdJoinDataProvider::PrepareInternalFields() {
    Assert(InnerProvider() != nullptr, "Right provider has not been set");
    Assert(OuterProvider() != nullptr, "Left provider has not been set");
    FJoinFields->Clear();
    int position = 0;
    auto addFields = [&](TOrqBaseJoinDataProvider* Side, bool Inner) {
        TInternalFields* fields = Side->GetProviderFields();
        for (int i = 0; i < fields->Count(); ++i) {
            const TInternalFieldItem* source = fields->GetIndex(i);
            TJoinFieldItem* field = FJoinFields->Add();
            field->Assign(source);
            if (Inner) {
                std::string name = source->FieldName();
                // A name the outer side already uses gets the inner provider's name in front.
                auto taken = [&](const std::string& Name) {
                    const TJoinFieldItem* other = FJoinFields->FindField(Name);
                    return other != nullptr && other != field;
                };
                while (taken(name)) name = Side->ProviderName() + "." + name;
                field->SetFieldName(name);
            }
            field->SetSourceFieldNo(source->FieldNo());
            field->SetDataProvider(Side);
            field->SetFieldNo(position);
            field->SetFieldIndex(position);
            ++position;
        }
    };
    addFields(OuterProvider(), false);
    addFields(InnerProvider(), true);
    FJoinFields->Open();
}

void TOrqStdJoinDataProvider::OpenProvider() {
    Assert(JoinType() != jtNone, "Join type has not been set");
    Assert(InnerProvider() != nullptr, "Right provider has not been set");
    Assert(OuterProvider() != nullptr, "Left provider has not been set");
    InnerProvider()->SetParentProvider(this);
    OuterProvider()->SetParentProvider(this);
    SetForceToNullValues(false);
    InnerProvider()->OpenProvider();
    OuterProvider()->OpenProvider();
    SetDBStringCompare(OuterProvider()->DBStringCompare());
    PrepareInternalFields();
    FJoinAnalyser->SetInnerProvider(InnerProvider());
    FJoinAnalyser->SetOuterProvider(OuterProvider());
    FJoinAnalyser->SetProvider(this);
    FJoinAnalyser->SetJoinExpr(JoinExprRoot());
    FJoinAnalyser->SetJoinType(JoinType());
    FJoinEvaluator->AnalyseAndOpenJoin();
    TOrqBaseJoinDataProvider::OpenProvider();
}

void TOrqStdJoinDataProvider::SetSelectExpr(bool EnforceExprOrder, const std::string& OrderIndexName) {
    if (InnerProvider()) InnerProvider()->SetSelectExpr(EnforceExprOrder, OrderIndexName);
    if (OuterProvider()) OuterProvider()->SetSelectExpr(EnforceExprOrder, OrderIndexName);
}

std::string TOrqStdJoinDataProvider::CurrentRecordIDAsString() {
    if (NullsForced()) return "";
    const std::string outer = OuterProvider() ? OuterProvider()->CurrentRecordIDAsString() : "";
    const std::string inner = InnerProvider() ? InnerProvider()->CurrentRecordIDAsString() : "";
    return outer + "," + inner;
}

void TOrqStdJoinDataProvider::SetJoinExpr(const TOrqExpr* Expr) {
    SetJoinExprRoot(Expr != nullptr ? Expr->FirstNode() : nullptr);
}

void TOrqStdJoinDataProvider::SetJoinExprRoot(const TOrqExprNode* Root) {
    FJoinExpr.reset();
    if (Root == nullptr) return;
    FJoinExpr = std::make_unique<TOrqExpr>();
    FJoinExpr->CloneFromTree(Root);
}

const TOrqExprNode* TOrqStdJoinDataProvider::JoinExprRoot() const {
    return FJoinExpr ? FJoinExpr->FirstNode() : nullptr;
}

void TOrqStdJoinDataProvider::ParseJoinExpr(const TOrqExprNode* Root, bool MatchedIsInner) {
    if (Root == nullptr || InnerProvider() == nullptr || OuterProvider() == nullptr) return;
    TOrqBaseJoinDataProvider* matched = MatchedIsInner ? InnerProvider() : OuterProvider();
    TOrqBaseJoinDataProvider* driving = MatchedIsInner ? OuterProvider() : InnerProvider();
    TOrqExpr expr;
    expr.CloneFromTree(Root);
    for (TOrqExprNode* node = expr.FirstNode(); node != nullptr; node = node->Next()) {
        if (node->Kind() != enkField) continue;
        const std::string table = JoinFieldTableName(*node);
        const std::string name = VarToStr(node->Data());
        TOrqBaseJoinDataProvider* found = FindJoinProviderIn(driving, matched, table);
        if (found != nullptr && InProviderTree(driving, found)) {
            TOrqBaseJoinDataProvider* source = found;
            const TParserToken* token = node->TokenArgs().empty() ? nullptr : node->TokenArgs()[0];
            TInternalFieldItem* field = source->FindField(token, name);
            Assert(field != nullptr, "Field not found");
            const Variant value = source->GetDataAsVariant(field->FieldNo());
            // The driving row's value stands in the condition as a constant of the field's type.
            node->SetKind(enkConst);
            node->SetOperator(VarIsNull(value) ? oeoISBLANK : oeoCONST2);
            node->SetData(value);
            node->TokenArgs().clear();
            node->Tables().Clear();
            node->SetDataType(field->DataType());
            node->SetDataSize(VarType(value) == varString ? int(value.AsString().size()) : field->FieldSize());
            continue;
        }
        TOrqBaseJoinDataProvider* target = found;
        Assert(target != nullptr, "join field not found");
        Assert(target->FindField(node->TokenArgs().empty() ? nullptr : node->TokenArgs()[0], name) != nullptr,
               "Field not found");
    }
    matched->SetExtraSelectExpRoot(expr.FirstNode());
}

}  // namespace ostra
