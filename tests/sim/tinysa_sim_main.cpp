// Placeholder: the tinysa-sim program follows.
int main() {
  return 1;
}
