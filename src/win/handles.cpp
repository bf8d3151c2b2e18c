namespace vorlatch {
int HandlesPlaceholder() { return 1; }
}  // namespace vorlatch
