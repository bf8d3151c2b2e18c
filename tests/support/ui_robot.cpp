namespace vorlatch {
int RobotPlaceholder() { return 1; }
}  // namespace vorlatch
